// The position pass-through: every IMediaSeeking / IMediaPosition call goes
// to the same interface of the output pin connected to the bound input pin.
#include "filters/framework.h"

PositionPassThru::PositionPassThru(const char* name, IUnknown* outer, IPin* boundInput)
    : ComObject(name, outer), boundInput_(boundInput) {}

HRESULT STDMETHODCALLTYPE PositionPassThru::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IMediaSeeking) return returnInterface(static_cast<IMediaSeeking*>(this), out);
    if (iid == IID_IMediaPosition) return returnInterface(static_cast<IMediaPosition*>(this), out);
    return ComObject::NonDelegatingQueryInterface(iid, out);
}

template <class Itf, class Call>
HRESULT PositionPassThru::forward(REFIID iid, Call call) {
    IPin* upstream = nullptr;
    if (FAILED(boundInput_->ConnectedTo(&upstream)) || !upstream) return E_NOTIMPL;
    Itf* itf = nullptr;
    HRESULT hr = upstream->QueryInterface(iid, reinterpret_cast<void**>(&itf));
    upstream->Release();
    if (FAILED(hr) || !itf) return E_NOTIMPL;
    hr = call(itf);
    itf->Release();
    return hr;
}

#define HW_SEEK(expr) forward<IMediaSeeking>(IID_IMediaSeeking, [&](IMediaSeeking* s) { return s->expr; })
#define HW_POSITION(expr) forward<IMediaPosition>(IID_IMediaPosition, [&](IMediaPosition* p) { return p->expr; })

HRESULT STDMETHODCALLTYPE PositionPassThru::GetCapabilities(DWORD* caps) { return HW_SEEK(GetCapabilities(caps)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::CheckCapabilities(DWORD* caps) {
    return HW_SEEK(CheckCapabilities(caps));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::IsFormatSupported(const GUID* format) {
    return HW_SEEK(IsFormatSupported(format));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::QueryPreferredFormat(GUID* format) {
    return HW_SEEK(QueryPreferredFormat(format));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::GetTimeFormat(GUID* format) { return HW_SEEK(GetTimeFormat(format)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::IsUsingTimeFormat(const GUID* format) {
    return HW_SEEK(IsUsingTimeFormat(format));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::SetTimeFormat(const GUID* format) {
    return HW_SEEK(SetTimeFormat(format));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::GetDuration(LONGLONG* duration) {
    return HW_SEEK(GetDuration(duration));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::GetStopPosition(LONGLONG* stop) { return HW_SEEK(GetStopPosition(stop)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::GetCurrentPosition(LONGLONG* current) {
    return HW_SEEK(GetCurrentPosition(current));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                                              LONGLONG source, const GUID* sourceFormat) {
    return HW_SEEK(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                                         DWORD stopFlags) {
    return HW_SEEK(SetPositions(current, currentFlags, stop, stopFlags));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) {
    return HW_SEEK(GetPositions(current, stop));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    return HW_SEEK(GetAvailable(earliest, latest));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::SetRate(double rate) { return HW_SEEK(SetRate(rate)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::GetRate(double* rate) { return HW_SEEK(GetRate(rate)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::GetPreroll(LONGLONG* preroll) { return HW_SEEK(GetPreroll(preroll)); }

HRESULT STDMETHODCALLTYPE PositionPassThru::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE PositionPassThru::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE PositionPassThru::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE PositionPassThru::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                                   UINT*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PositionPassThru::get_Duration(REFTIME* length) { return HW_POSITION(get_Duration(length)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::put_CurrentPosition(REFTIME time) {
    return HW_POSITION(put_CurrentPosition(time));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::get_CurrentPosition(REFTIME* time) {
    return HW_POSITION(get_CurrentPosition(time));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::get_StopTime(REFTIME* time) { return HW_POSITION(get_StopTime(time)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::put_StopTime(REFTIME time) { return HW_POSITION(put_StopTime(time)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::get_PrerollTime(REFTIME* time) {
    return HW_POSITION(get_PrerollTime(time));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::put_PrerollTime(REFTIME time) {
    return HW_POSITION(put_PrerollTime(time));
}
HRESULT STDMETHODCALLTYPE PositionPassThru::put_Rate(double rate) { return HW_POSITION(put_Rate(rate)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::get_Rate(double* rate) { return HW_POSITION(get_Rate(rate)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::CanSeekForward(LONG* can) { return HW_POSITION(CanSeekForward(can)); }
HRESULT STDMETHODCALLTYPE PositionPassThru::CanSeekBackward(LONG* can) { return HW_POSITION(CanSeekBackward(can)); }
