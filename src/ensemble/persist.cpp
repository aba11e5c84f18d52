#include "ensemble/persist.h"

#include "ensemble/ensemble_format.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>

namespace hyd {

namespace {

// Reads exactly count bytes: a failing read returns its own code, a short one HY_E_ENDOFDATA.
hresult read_exact(byte_stream& stream, void* buffer, std::uint32_t count) {
    std::uint32_t done = 0;
    const hresult hr = stream.read(buffer, count, &done);
    if (failed(hr)) return hr;
    return done < count ? HY_E_ENDOFDATA : s_ok;
}

// The reason of a failed read: the stream's own failure, or its end.
load_reason read_reason(hresult hr, load_reason at_end) {
    return hr == HY_E_ENDOFDATA ? at_end : load_reason::read_failed;
}

} // namespace

hresult CSNBasePersist::GetClassID(guid*) {
    return e_notimpl;
}

hresult CSNBasePersist::IsDirty() {
    return s_false;
}

void CSNBasePersist::clear() {
    record_.reset();
    record_size_ = 0;
    position_ = -1;
}

hresult CSNBasePersist::Load(byte_stream& stream) {
    last_start_ = -1;
    try {
        const hresult hr = load_record(stream);
        if (succeeded(hr)) last_reason_ = load_reason::loaded;
        return hr;
    } catch (...) {
        last_reason_ = load_reason::exception;
        return e_fail;
    }
}

hresult CSNBasePersist::load_record(byte_stream& stream) {
    clear();

    // Find the sync pair. Each attempt counts its one-byte reads while looking for the first sync
    // byte; a second byte that does not match starts a new attempt with the byte after it.
    const auto fail = [this](hresult hr, load_reason why) {
        last_reason_ = why;
        return hr;
    };
    std::uint8_t byte = 0;
    for (;;) {
        std::uint32_t reads = 0;
        for (;;) {
            if (const hresult hr = read_exact(stream, &byte, 1); hr != s_ok)
                return fail(hr, read_reason(hr, load_reason::end_of_data));
            if (++reads >= sync_search_limit) return fail(e_fail, load_reason::no_sync);
            if (byte == GetHeaderId()) break;
        }
        if (const hresult hr = read_exact(stream, &byte, 1); hr != s_ok)
            return fail(hr, read_reason(hr, load_reason::end_of_data));
        if (byte == GetSourceId()) break;
    }

    std::int64_t position = -1;
    std::uint64_t here = 0;
    if (succeeded(stream.seek(0, seek_origin::cur, &here)))
        position = static_cast<std::int64_t>(here) - 2;
    last_start_ = position;

    std::uint8_t count[3];
    if (const hresult hr = read_exact(stream, count, 2); hr != s_ok)
        return fail(hr, read_reason(hr, load_reason::end_of_data));
    if (const hresult hr = read_exact(stream, count + 2, 1); hr != s_ok)
        return fail(hr, read_reason(hr, load_reason::end_of_data));
    const std::int64_t length = (static_cast<std::int64_t>(count[2]) << 16) + read_u16(count) -
                                static_cast<std::int64_t>(GetOffsetOrigin()) + 2;
    if (length > static_cast<std::int64_t>(ensemble_max_record))
        return fail(HY_E_BADENSEMBLE, load_reason::too_long);
    if (length < static_cast<std::int64_t>(ensemble_min_record))
        return fail(HY_E_BADENSEMBLE, load_reason::too_short);

    // From here on the record stays held whatever happens, so a host can look at what arrived.
    const auto size = static_cast<std::uint32_t>(length);
    record_.reset(new std::uint8_t[size]());
    record_size_ = size;
    position_ = position;
    record_[0] = GetHeaderId();
    record_[1] = GetSourceId();
    std::memcpy(record_.get() + 2, count, 3);
    if (const hresult hr = read_exact(stream, record_.get() + 5, size - 5); hr != s_ok)
        return fail(hr, read_reason(hr, load_reason::cut_short));

    const std::uint32_t body = size - 2;
    if (ensemble_checksum({record_.get(), body}) != read_u16(record_.get() + body))
        return fail(HY_E_BADENSEMBLE, load_reason::bad_checksum);
    const hresult hr = Validate();
    if (failed(hr)) last_reason_ = load_reason::rejected;
    return hr;
}

hresult CSNBasePersist::Save(byte_stream& stream, bool) {
    try {
        std::uint32_t size = 0;
        const std::uint8_t* bytes = GetBuffer(&size);
        if (!bytes) return e_fail;
        std::uint32_t written = 0;
        const hresult hr = stream.write(bytes, size, &written);
        if (failed(hr)) return hr;
        return written < size ? e_fail : s_ok;
    } catch (...) {
        return e_fail;
    }
}

hresult CSNBasePersist::GetSizeMax(std::uint64_t* size) {
    if (!size) return e_pointer;
    *size = record_size_;
    return s_ok;
}

const std::uint8_t* CSNBasePersist::GetBuffer(std::uint32_t* pcb) const {
    if (pcb) *pcb = record_ ? record_size_ : 0;
    return record_.get();
}

int CSNBasePersist::type_count() const {
    return record_ ? record_[5] : 0;
}

int CSNBasePersist::type_offset(int index) const {
    if (!record_ || index < 0 || index >= type_count()) return -1;
    const std::int64_t ensemble_bytes = record_size_ - 2; // L: everything before the checksum
    const std::int64_t entry = 6 + 2 * static_cast<std::int64_t>(index);
    if (entry + 2 > ensemble_bytes) return -1;
    const std::int64_t offset =
        static_cast<std::int64_t>(read_u16(record_.get() + entry)) - GetOffsetOrigin();
    if (offset < static_cast<std::int64_t>(ensemble_header_bytes) || offset + 2 > ensemble_bytes)
        return -1;
    return static_cast<int>(offset);
}

int CSNBasePersist::FindType(std::uint16_t id) const {
    for (int i = 0, n = type_count(); i < n; ++i) {
        const int offset = type_offset(i);
        if (offset >= 0 && read_u16(record_.get() + offset) == id) return i;
    }
    return -1;
}

const std::uint8_t* CSNBasePersist::GetType(std::uint16_t id) const {
    return GetTypeAt(FindType(id));
}

const std::uint8_t* CSNBasePersist::GetTypeAt(int index) const {
    const int offset = type_offset(index);
    return offset < 0 ? nullptr : record_.get() + offset;
}

int CSNBasePersist::GetTypeSize(int index) const {
    const int offset = type_offset(index);
    if (offset < 0) return 0;
    std::int64_t size = 0;
    if (index < type_count() - 1) {
        const std::int64_t entry = 6 + 2 * static_cast<std::int64_t>(index + 1);
        if (entry + 2 > static_cast<std::int64_t>(record_size_) - 2) return 0;
        size =
            static_cast<std::int64_t>(read_u16(record_.get() + entry)) - GetOffsetOrigin() - offset;
    } else {
        size = static_cast<std::int64_t>(read_u16(record_.get() + 2)) - 2 - offset;
    }
    const std::int64_t room = static_cast<std::int64_t>(record_size_) - 2 - offset;
    return static_cast<int>(std::clamp<std::int64_t>(size, 0, room));
}

hresult CSNPersist::Validate() {
    const int leader = FindType(variable_leader_id);
    return leader >= 0 && GetTypeSize(leader) > long_leader_bytes ? HY_S_LONGLEADER : s_ok;
}

hresult CSNPersist::LoadLast(byte_stream& stream) {
    try {
        std::uint64_t start = 0;
        if (const hresult hr = stream.size(&start); failed(hr)) return hr;
        if (start == 0) return e_fail;
        hresult last = e_fail;
        while (start > 0) {
            start -= std::min<std::uint64_t>(64, start);
            if (const hresult hr =
                    stream.seek(static_cast<std::int64_t>(start), seek_origin::set, nullptr);
                failed(hr))
                return hr;
            last = Load(stream);
            if (last == s_ok) return s_ok;
        }
        return last;
    } catch (...) {
        return e_fail;
    }
}

} // namespace hyd
