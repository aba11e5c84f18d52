// CHySerial: the stream over the host's serial-port handle (wrapped, never closed here), with the
// wake-up break. Windows code only.
#pragma once

#include "streams/hyfile_win.h"

class CHySerial : public CHyFile, public IStream {
  public:
    // Every caller passes FILE_FLAG_OVERLAPPED: the host opens its ports overlapped.
    CHySerial(HANDLE hComm, DWORD flags) : CHyFile(hComm, flags) {}

    // 0: SendBreak holds a line break; any other value: it sends the break string "=======".
    // Callers set it right after construction.
    LONG m_nBreakType = 0;

    // hCancel (may be null) ends the 400 ms line break early with HY_E_CANCELLED; the break is
    // cleared in every case.
    HRESULT SendBreak(HANDLE hCancel);

    BOOL IsCommDevice() override { return TRUE; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return CHyFile::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return CHyFile::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return CHyFile::Release(); }
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        return CHyFile::Read(pv, cb, pcbRead);
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        return CHyFile::Write(pv, cb, pcbWritten);
    }
    // A port has no position, size or status.
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
};
