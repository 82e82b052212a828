// Operations and the queue that runs them one at a time on the platform's work queue.
#pragma once
#include <atomic>

#include "list.h"
#include "support/lock.h"

// Requests for data are no operations: production runs on work items of its own (the numbers stay as they were).
enum OpType : DWORD { OpStart = 0, OpPause = 1, OpStop = 2, OpEndOfStream = 4 };

class SourceOp : public IUnknown, public CNoThrowAlloc {
public:
    explicit SourceOp(DWORD type) : m_type(type) { PropVariantInit(&m_data); }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (!IsEqualIID(riid, IID_IUnknown)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refCount; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --m_refCount;
        if (n == 0) delete this;
        return n;
    }

    std::atomic<ULONG> m_refCount{1};
    DWORD m_type;
    PROPVARIANT m_data;
    DWORD m_streamId = 0;
    // The run the operation was made for (ends of streams): the source drops one that outlived its run, so that
    // nothing of an earlier run acts on a later one.
    DWORD m_runId = 0;

protected:
    virtual ~SourceOp() { PropVariantClear(&m_data); }
};

class StartOp : public SourceOp {
public:
    explicit StartOp(IMFPresentationDescriptor* pd) : SourceOp(OpStart), m_pPresentationDescriptor(pd) {
        if (pd) pd->AddRef();
    }
    IMFPresentationDescriptor* m_pPresentationDescriptor;

protected:
    ~StartOp() override {
        if (m_pPresentationDescriptor) m_pPresentationDescriptor->Release();
    }
};

// An IMFAsyncCallback bound to a member function of its owner; it counts references on the owner, so a
// posted work item keeps the owner alive until it has run.
template <class T> class AsyncCallback : public IMFAsyncCallback {
public:
    typedef HRESULT (T::*Method)(IMFAsyncResult*);
    AsyncCallback(T* target, Method method) : m_pTarget(target), m_pTargetMethod(method) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMFAsyncCallback)) {
            *ppv = static_cast<IMFAsyncCallback*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_pTarget->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_pTarget->Release(); }
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* result) override { return (m_pTarget->*m_pTargetMethod)(result); }

private:
    T* m_pTarget;
    Method m_pTargetMethod;
};

template <class OP> class OpQueue : public IUnknown {
public:
    explicit OpQueue(CLock* ownerLock)
        : m_pOwnerLock(ownerLock), m_processCallback(this, &OpQueue::ProcessOneOperation) {}
    virtual ~OpQueue() = default;

    virtual HRESULT ExecuteOperation(OP* op) = 0;
    virtual HRESULT CheckOperation(OP* op) = 0;

    HRESULT PostOperation(OP* op) {
        CAutoLock lock(m_queueLock);
        HRESULT hr = m_operations.PushBack(op);
        if (SUCCEEDED(hr)) hr = ScheduleProcessing();
        return hr;
    }

    HRESULT ScheduleProcessing() {
        CAutoLock lock(m_queueLock);
        if (m_operations.Count() == 0) return S_OK;
        return MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, &m_processCallback, nullptr);
    }

    HRESULT ProcessOneOperation(IMFAsyncResult*) {
        CAutoLock owner(*m_pOwnerLock);
        OP* op = nullptr;
        HRESULT hr;
        {
            CAutoLock lock(m_queueLock);
            if (m_operations.Count() > 0) m_operations.PeekFront(&op);
            hr = CheckOperation(op);
            if (SUCCEEDED(hr)) hr = m_operations.PopFront(nullptr);
        }
        if (SUCCEEDED(hr) && op) ExecuteOperation(op);
        if (op) op->Release();
        return hr;
    }

protected:
    ComPtrList<OP> m_operations;
    CLock m_queueLock;
    CLock* m_pOwnerLock;
    AsyncCallback<OpQueue<OP>> m_processCallback;
};
