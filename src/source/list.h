// Sentinel-anchored doubly linked lists; ComPtrList holds one COM reference per item.
#pragma once
#include "platform/platform.h"
#include "support/alloc.h"

template <class T> class List : public CNoThrowAlloc {
protected:
    struct Node : CNoThrowAlloc {
        Node* prev;
        Node* next;
        T item;
    };
    Node m_anchor;
    DWORD m_count = 0;

public:
    List() {
        m_anchor.prev = m_anchor.next = &m_anchor;
        m_anchor.item = T();
    }
    virtual ~List() { ListClear(); }
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    virtual HRESULT LinkAfter(T item, Node* before) {
        if (!before) return E_POINTER;
        Node* n = new Node;
        if (!n) return E_OUTOFMEMORY;
        n->item = item;
        n->prev = before;
        n->next = before->next;
        before->next->prev = n;
        before->next = n;
        ++m_count;
        return S_OK;
    }
    virtual HRESULT ItemAt(Node* node, T* item) const {
        if (!node || !item) return E_POINTER;
        *item = node->item;
        return S_OK;
    }
    virtual HRESULT Unlink(Node* node, T* item) {
        if (!node) return E_POINTER;
        if (node == &m_anchor) return E_INVALIDARG;
        if (item) *item = node->item;
        node->prev->next = node->next;
        node->next->prev = node->prev;
        delete node;
        --m_count;
        return S_OK;
    }
    virtual void Clear() { ListClear(); }

    HRESULT PushBack(T item) { return LinkAfter(item, m_anchor.prev); }
    HRESULT PeekFront(T* item) const { return m_count == 0 ? E_FAIL : ItemAt(m_anchor.next, item); }
    HRESULT PopFront(T* item = nullptr) { return m_count == 0 ? E_FAIL : Unlink(m_anchor.next, item); }
    DWORD Count() const { return m_count; }

private:
    void ListClear() {
        Node* n = m_anchor.next;
        while (n != &m_anchor) {
            Node* next = n->next;
            delete n;
            n = next;
        }
        m_anchor.prev = m_anchor.next = &m_anchor;
        m_count = 0;
    }
};

template <class T, bool NULLABLE = false> class ComPtrList : public List<T*> {
    using Base = List<T*>;
    using typename Base::Node;

public:
    ~ComPtrList() override { Clear(); }
    HRESULT LinkAfter(T* item, Node* before) override {
        if (!item && !NULLABLE) return E_POINTER;
        if (item) item->AddRef();
        HRESULT hr = Base::LinkAfter(item, before);
        if (FAILED(hr) && item) item->Release();
        return hr;
    }
    HRESULT ItemAt(Node* node, T** item) const override {
        if (!node || !item) return E_POINTER;
        if (node->item) {
            *item = node->item;
            (*item)->AddRef();
        }
        return S_OK;
    }
    HRESULT Unlink(Node* node, T** item) override {
        T* held = nullptr;
        HRESULT hr = Base::Unlink(node, &held);
        if (FAILED(hr)) return hr;
        if (item) {
            *item = held;
            if (held) held->AddRef();
        }
        if (held) held->Release();
        return S_OK;
    }
    void Clear() override {
        while (this->Count() > 0) Unlink(this->m_anchor.next, nullptr);
    }
};
