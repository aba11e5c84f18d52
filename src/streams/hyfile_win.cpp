// CHyFile and CHyDiskFile: the stream over a Win32 handle.
#include "streams/hyfile_win.h"

#include "common/result_codes.h"

#include <cstring>

namespace {

bool is_disk(HANDLE h) {
    return GetFileType(h) == FILE_TYPE_DISK;
}

// SetFilePointer reports failure as INVALID_SET_FILE_POINTER plus a last-error; that low part is
// also a valid position, so the last-error is cleared first to tell them apart.
bool move_pointer(HANDLE h, LONG low, LONG* high, DWORD method, DWORD* newLow = nullptr) {
    SetLastError(NO_ERROR);
    const DWORD r = ::SetFilePointer(h, low, high, method);
    if (newLow) *newLow = r;
    return !(r == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

} // namespace

CHyFile::CHyFile() = default;

CHyFile::CHyFile(HANDLE h, DWORD flags) : m_hFile(h), m_bOwnsHandle(FALSE), m_dwFlags(flags) {}

CHyFile::~CHyFile() {
    Close();
}

HANDLE CHyFile::CreateFile(const char* name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* sa,
                           DWORD creation, DWORD flagsAndAttributes, HANDLE templateFile) {
    Close();
    HANDLE h = ::CreateFileA(name, access, share, sa, creation, flagsAndAttributes, templateFile);
    if (h == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    m_hFile = h;
    m_bOwnsHandle = TRUE;
    m_dwFlags = flagsAndAttributes;

    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(name, MAX_PATH, full, nullptr);
    if (n == 0) {
        const DWORD err = GetLastError();
        Close();
        SetLastError(err);
        return INVALID_HANDLE_VALUE;
    }
    if (n < MAX_PATH) {
        m_strPath.assign(full, n);
    } else {
        // The file opened, so keep it and its whole path rather than a cut one.
        std::string longer(n, '\0');
        const DWORD m = GetFullPathNameA(name, n, longer.data(), nullptr);
        if (m == 0 || m >= n) {
            const DWORD err = m == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
            Close();
            SetLastError(err);
            return INVALID_HANDLE_VALUE;
        }
        longer.resize(m);
        m_strPath = std::move(longer);
    }

    if (!(m_dwFlags & FILE_FLAG_OVERLAPPED)) return m_hFile;
    m_ovRead.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_ovRead.hEvent) m_ovWrite.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!m_ovRead.hEvent || !m_ovWrite.hEvent) {
        const DWORD err = GetLastError();
        Close();
        SetLastError(err);
        return INVALID_HANDLE_VALUE;
    }
    PurgeComm(m_hFile, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    return m_hFile;
}

void CHyFile::Close() {
    if (m_bOwnsHandle && m_hFile) CloseHandle(m_hFile);
    m_hFile = nullptr;
    for (OVERLAPPED* ov : {&m_ovRead, &m_ovWrite}) {
        if (ov->hEvent) CloseHandle(ov->hEvent);
        ov->hEvent = nullptr;
    }
    m_strPath.clear();
}

BOOL CHyFile::ReadFile(void* buffer, DWORD count, DWORD* pDone, OVERLAPPED* pOv) {
    if ((m_dwFlags & FILE_FLAG_OVERLAPPED) && !pOv) {
        if (::ReadFile(m_hFile, buffer, count, pDone, &m_ovRead)) return TRUE;
        if (GetLastError() != ERROR_IO_PENDING) return FALSE;
        if (GetOverlappedResult(&m_ovRead, pDone, TRUE)) return TRUE;
        // Wine ends a read at the port's total time-out with ERROR_TIMEOUT, where Windows
        // succeeds with the bytes that came; a blocking read reports the Windows way on both.
        if (GetLastError() != ERROR_TIMEOUT) return FALSE;
        SetLastError(NO_ERROR);
        return TRUE;
    }
    return ::ReadFile(m_hFile, buffer, count, pDone, pOv);
}

BOOL CHyFile::WriteFile(const void* buffer, DWORD count, DWORD* pDone, OVERLAPPED* pOv) {
    if ((m_dwFlags & FILE_FLAG_OVERLAPPED) && !pOv) {
        if (::WriteFile(m_hFile, buffer, count, pDone, &m_ovWrite)) return TRUE;
        if (GetLastError() != ERROR_IO_PENDING) return FALSE;
        return GetOverlappedResult(&m_ovWrite, pDone, TRUE);
    }
    return ::WriteFile(m_hFile, buffer, count, pDone, pOv);
}

BOOL CHyFile::GetOverlappedResult(OVERLAPPED* pOv, DWORD* pDone, BOOL bWait) {
    return ::GetOverlappedResult(m_hFile, pOv, pDone, bWait);
}

BOOL CHyFile::IsCommDevice() {
    return FALSE;
}

HRESULT STDMETHODCALLTYPE CHyFile::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IStream) return E_NOINTERFACE;
    // The IStream face is the second base of every variant.
    IStream* face = dynamic_cast<IStream*>(this);
    if (!face) return E_NOINTERFACE;
    *ppv = face;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CHyFile::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG STDMETHODCALLTYPE CHyFile::Release() {
    const LONG n = InterlockedDecrement(&m_cRef);
    if (n == 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(n);
}

HRESULT STDMETHODCALLTYPE CHyFile::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (!m_hFile) return E_FAIL;
    if (!pv && cb != 0) return E_POINTER;
    DWORD done = 0;
    if (!ReadFile(pv, cb, &done, nullptr)) return E_FAIL;
    if (pcbRead) *pcbRead = done;
    if (!IsCommDevice()) return S_OK;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_hFile, &errors, &status)) return E_FAIL;
    // A success code: the bytes are delivered, the line errors only reported.
    return errors != 0 ? hyd::HY_S_COMMERROR : S_OK;
}

HRESULT STDMETHODCALLTYPE CHyFile::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (!m_hFile) return E_FAIL;
    if (!pv && cb != 0) return E_POINTER;
    DWORD done = 0;
    if (!WriteFile(pv, cb, &done, nullptr)) return E_FAIL;
    if (pcbWritten) *pcbWritten = done;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHyFile::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                        ULARGE_INTEGER* plibNewPosition) {
    if (!is_disk(m_hFile)) return E_FAIL;
    if (dwOrigin != STREAM_SEEK_SET && dwOrigin != STREAM_SEEK_CUR && dwOrigin != STREAM_SEEK_END)
        return E_FAIL;
    if (!m_hFile) return E_FAIL;
    LONG high = dlibMove.HighPart;
    DWORD low = 0;
    if (!move_pointer(m_hFile, static_cast<LONG>(dlibMove.LowPart), &high, dwOrigin, &low))
        return E_FAIL;
    if (plibNewPosition) {
        plibNewPosition->LowPart = low;
        plibNewPosition->HighPart = static_cast<DWORD>(high);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHyFile::SetSize(ULARGE_INTEGER libNewSize) {
    if (!is_disk(m_hFile)) return E_FAIL;
    if (libNewSize.HighPart > 0x7FFFFFFFu) return E_FAIL;
    LONG high = static_cast<LONG>(libNewSize.HighPart);
    if (!move_pointer(m_hFile, static_cast<LONG>(libNewSize.LowPart), &high, FILE_BEGIN))
        return E_FAIL;
    return ::SetEndOfFile(m_hFile) ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE CHyFile::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                          ULARGE_INTEGER*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CHyFile::Commit(DWORD) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CHyFile::Revert() {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CHyFile::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CHyFile::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CHyFile::Stat(STATSTG* pstatstg, DWORD) {
    if (!is_disk(m_hFile)) return E_NOTIMPL;
    if (!pstatstg) return E_POINTER;
    std::memset(pstatstg, 0, sizeof *pstatstg);
    DWORD high = 0;
    pstatstg->cbSize.LowPart = ::GetFileSize(m_hFile, &high);
    pstatstg->cbSize.HighPart = high;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHyFile::Clone(IStream**) {
    return E_NOTIMPL;
}

DWORD CHyDiskFile::GetFileSize(DWORD* pHigh) {
    return ::GetFileSize(m_hFile, pHigh);
}

DWORD CHyDiskFile::SetFilePointer(LONG low, LONG* pHigh, DWORD method) {
    return ::SetFilePointer(m_hFile, low, pHigh, method);
}

BOOL CHyDiskFile::SetEndOfFile() {
    return ::SetEndOfFile(m_hFile);
}
