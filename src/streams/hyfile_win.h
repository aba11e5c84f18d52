// Byte streams over a Win32 handle: CHyFile holds the handle and offers a Win32-shaped face
// (ReadFile/WriteFile/GetOverlappedResult with an optional caller OVERLAPPED) beside the IStream
// operations; CHyDiskFile is the disk-file variant. Windows code only.
#pragma once

#include <windows.h>

#include <objidl.h>

#include <string>

// The common base; only its variants are ever created. Its IStream-shaped members are plain
// virtuals: the variants carry IStream as a second base and forward to them.
class CHyFile {
  public:
    CHyFile();
    // Wraps a handle opened elsewhere; the handle is never closed by the stream.
    CHyFile(HANDLE h, DWORD flags);
    CHyFile(const CHyFile&) = delete;
    CHyFile& operator=(const CHyFile&) = delete;
    virtual ~CHyFile();

    // Same parameters and result as CreateFileA; INVALID_HANDLE_VALUE leaves the stream closed.
    HANDLE CreateFile(const char* name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* sa,
                      DWORD creation, DWORD flagsAndAttributes, HANDLE templateFile);
    void Close();

    // Without an OVERLAPPED on an overlapped handle these use the stream's own record and block
    // until the transfer ends; with one they return as the Win32 calls do.
    virtual BOOL ReadFile(void* buffer, DWORD count, DWORD* pDone, OVERLAPPED* pOv);
    virtual BOOL WriteFile(const void* buffer, DWORD count, DWORD* pDone, OVERLAPPED* pOv);
    virtual BOOL GetOverlappedResult(OVERLAPPED* pOv, DWORD* pDone, BOOL bWait);
    virtual BOOL IsCommDevice();

    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv);
    virtual ULONG STDMETHODCALLTYPE AddRef();
    virtual ULONG STDMETHODCALLTYPE Release();

    virtual HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead);
    virtual HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten);
    virtual HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                           ULARGE_INTEGER* plibNewPosition);
    virtual HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize);
    virtual HRESULT STDMETHODCALLTYPE CopyTo(IStream* pstm, ULARGE_INTEGER cb,
                                             ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten);
    virtual HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags);
    virtual HRESULT STDMETHODCALLTYPE Revert();
    virtual HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                                 DWORD dwLockType);
    virtual HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                                   DWORD dwLockType);
    virtual HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag);
    virtual HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm);

    // What the instrument dialogue uses directly.
    HANDLE GetHandle() const { return m_hFile; }
    DWORD GetOpenFlags() const { return m_dwFlags; }
    const std::string& GetPath() const { return m_strPath; }

  protected:
    LONG m_cRef = 1;
    HANDLE m_hFile = nullptr;
    BOOL m_bOwnsHandle = TRUE;
    DWORD m_dwFlags = 0;
    OVERLAPPED m_ovRead{};
    OVERLAPPED m_ovWrite{};
    std::string m_strPath;
};

// Disk-file stream: the base's behaviour, the IStream face and three file operations.
class CHyDiskFile : public CHyFile, public IStream {
  public:
    CHyDiskFile() = default;

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
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                   ULARGE_INTEGER* plibNewPosition) override {
        return CHyFile::Seek(dlibMove, dwOrigin, plibNewPosition);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) override {
        return CHyFile::SetSize(libNewSize);
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) override {
        return CHyFile::CopyTo(pstm, cb, pcbRead, pcbWritten);
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) override {
        return CHyFile::Commit(grfCommitFlags);
    }
    HRESULT STDMETHODCALLTYPE Revert() override { return CHyFile::Revert(); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                         DWORD dwLockType) override {
        return CHyFile::LockRegion(libOffset, cb, dwLockType);
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                           DWORD dwLockType) override {
        return CHyFile::UnlockRegion(libOffset, cb, dwLockType);
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) override {
        return CHyFile::Stat(pstatstg, grfStatFlag);
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override { return CHyFile::Clone(ppstm); }

    virtual DWORD GetFileSize(DWORD* pHigh);
    virtual DWORD SetFilePointer(LONG low, LONG* pHigh, DWORD method);
    virtual BOOL SetEndOfFile();
};
