// IMFSampleGrabberSinkCallback2 as mfidl.h declares it in the Windows SDK (Windows 8 and later); the
// mingw-w64 headers leave it out. Its OnProcessSampleEx hands the sink callback each sample's attributes as
// well.
#pragma once
#include <mfidl.h>

#ifndef __IMFSampleGrabberSinkCallback2_INTERFACE_DEFINED__
#define __IMFSampleGrabberSinkCallback2_INTERFACE_DEFINED__
DEFINE_GUID(IID_IMFSampleGrabberSinkCallback2, 0xca86aa50, 0xc46e, 0x429e, 0xab, 0x27, 0x16, 0xd6, 0xac, 0x68,
            0x44, 0xcb);

MIDL_INTERFACE("ca86aa50-c46e-429e-ab27-16d6ac6844cb")
IMFSampleGrabberSinkCallback2 : public IMFSampleGrabberSinkCallback {
public:
    virtual HRESULT STDMETHODCALLTYPE OnProcessSampleEx(
        REFGUID guidMajorMediaType, DWORD dwSampleFlags, LONGLONG llSampleTime, LONGLONG llSampleDuration,
        const BYTE* pSampleBuffer, DWORD dwSampleSize, IMFAttributes* pAttributes) = 0;
};
__CRT_UUID_DECL(IMFSampleGrabberSinkCallback2, 0xca86aa50, 0xc46e, 0x429e, 0xab, 0x27, 0x16, 0xd6, 0xac, 0x68,
                0x44, 0xcb)
#endif
