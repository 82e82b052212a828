// MFGetService: the object's IMFGetService asked for the service.
#include "mfidl.h"

extern "C" HRESULT MFGetService(IUnknown* object, REFGUID service, REFIID riid, LPVOID* ppv) {
    if (!object || !ppv) return E_POINTER;
    *ppv = nullptr;
    IMFGetService* getService = nullptr;
    if (FAILED(object->QueryInterface(IID_IMFGetService, reinterpret_cast<void**>(&getService))))
        return MF_E_UNSUPPORTED_SERVICE;
    const HRESULT hr = getService->GetService(service, riid, ppv);
    getService->Release();
    return hr;
}
