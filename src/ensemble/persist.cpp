#include "ensemble/persist.h"

#include "ensemble/ensemble_format.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/asan_interface.h>
#endif

namespace hyd {

namespace {

// Storage kept beyond the held record is marked unaddressable for AddressSanitizer, so reads past
// the record are caught as they were when each record had an allocation of its own.
#ifdef __SANITIZE_ADDRESS__
void poison(const void* at, std::size_t n) {
    ASAN_POISON_MEMORY_REGION(at, n);
}
void unpoison(const void* at, std::size_t n) {
    ASAN_UNPOISON_MEMORY_REGION(at, n);
}
#else
void poison(const void*, std::size_t) {}
void unpoison(const void*, std::size_t) {}
#endif

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
    record_ = nullptr;
    record_size_ = 0;
    type_count_ = 0;
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

hresult CSNBasePersist::find_sync(byte_stream& stream) {
    // Each attempt counts its one-byte reads while looking for the first sync byte; the read that
    // reaches the limit is made but its byte is not looked at. A second byte that does not match
    // starts a new attempt with the byte after it. Lent bytes count as the reads they stand for.
    const std::uint8_t header = GetHeaderId();
    const std::uint8_t source = GetSourceId();
    std::uint8_t byte = 0;
    for (;;) {
        std::uint32_t reads = 0;
        for (;;) {
            if (const auto lent = stream.lend(); !lent.empty()) {
                const std::size_t looked_at = sync_search_limit - 1 - reads;
                const std::size_t scan = std::min(lent.size(), looked_at);
                if (const void* hit = std::memchr(lent.data(), header, scan)) {
                    stream.skip(static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) -
                                                         lent.data()) +
                                1);
                    break;
                }
                if (lent.size() > looked_at) {
                    stream.skip(looked_at + 1);
                    last_reason_ = load_reason::no_sync;
                    return e_fail;
                }
                stream.skip(scan);
                reads += static_cast<std::uint32_t>(scan);
                continue;
            }
            if (const hresult hr = read_exact(stream, &byte, 1); hr != s_ok) {
                last_reason_ = read_reason(hr, load_reason::end_of_data);
                return hr;
            }
            if (++reads >= sync_search_limit) {
                last_reason_ = load_reason::no_sync;
                return e_fail;
            }
            if (byte == header) break;
        }
        if (const auto lent = stream.lend(); !lent.empty()) {
            byte = lent[0];
            stream.skip(1);
        } else if (const hresult hr = read_exact(stream, &byte, 1); hr != s_ok) {
            last_reason_ = read_reason(hr, load_reason::end_of_data);
            return hr;
        }
        if (byte == source) return s_ok;
    }
}

hresult CSNBasePersist::load_record(byte_stream& stream) {
    clear();
    const auto fail = [this](hresult hr, load_reason why) {
        last_reason_ = why;
        return hr;
    };
    if (const hresult hr = find_sync(stream); hr != s_ok) return hr;

    std::int64_t position = -1;
    std::uint64_t here = 0;
    if (succeeded(stream.seek(0, seek_origin::cur, &here)))
        position = static_cast<std::int64_t>(here) - 2;
    last_start_ = position;

    // The byte count: two bytes, then byte 4, as two reads (or lent bytes standing for them).
    std::uint8_t count[3];
    if (const auto lent = stream.lend(); lent.size() >= 3) {
        std::memcpy(count, lent.data(), 3);
        stream.skip(3);
    } else {
        if (const hresult hr = read_exact(stream, count, 2); hr != s_ok)
            return fail(hr, read_reason(hr, load_reason::end_of_data));
        if (const hresult hr = read_exact(stream, count + 2, 1); hr != s_ok)
            return fail(hr, read_reason(hr, load_reason::end_of_data));
    }
    const std::int64_t length = (static_cast<std::int64_t>(count[2]) << 16) + read_u16(count) -
                                static_cast<std::int64_t>(GetOffsetOrigin()) + 2;
    if (length > static_cast<std::int64_t>(ensemble_max_record))
        return fail(HY_E_BADENSEMBLE, load_reason::too_long);
    if (length < static_cast<std::int64_t>(ensemble_min_record))
        return fail(HY_E_BADENSEMBLE, load_reason::too_short);

    // From here on the record stays held whatever happens, so a host can look at what arrived.
    const auto size = static_cast<std::uint32_t>(length);
    const std::uint32_t body = size - 2; // L: everything before the checksum
    if (capacity_ < size) {
        storage_.reset(new std::uint8_t[size]);
        capacity_ = size;
    }
    unpoison(storage_.get(), capacity_);
    poison(storage_.get() + size, capacity_ - size); // past the record, as if never allocated
    record_ = storage_.get();
    record_size_ = size;
    position_ = position;
    std::uint8_t* record = record_;
    record[0] = GetHeaderId();
    record[1] = GetSourceId();
    std::memcpy(record + 2, count, 3);
    std::uint16_t sum = 0;
    hresult hr = s_ok;
    if (const auto lent = stream.lend(); lent.size() >= size - 5) {
        // One pass copies the rest of the record and sums it; the checksum itself is only copied.
        sum = static_cast<std::uint16_t>(record[0] + record[1] + record[2] + record[3] + record[4] +
                                         copy_with_checksum(record + 5, lent.data(), body - 5));
        std::memcpy(record + body, lent.data() + (body - 5), 2);
        stream.skip(size - 5);
    } else {
        std::uint32_t done = 0;
        hr = stream.read(record + 5, size - 5, &done);
        done = std::min(done, size - 5);
        std::memset(record + 5 + done, 0, size - 5 - done); // bytes that never arrive read as zero
        if (succeeded(hr)) hr = done < size - 5 ? HY_E_ENDOFDATA : s_ok;
        if (hr == s_ok) sum = ensemble_checksum({record, body});
    }
    index_types();
    if (hr != s_ok) return fail(hr, read_reason(hr, load_reason::cut_short));
    if (sum != read_u16(record + body)) return fail(HY_E_BADENSEMBLE, load_reason::bad_checksum);
    hr = Validate();
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
    return record_;
}

void CSNBasePersist::index_types() {
    type_count_ = record_ ? record_[5] : 0;
    const std::uint8_t* record = record_;
    const std::int64_t origin = GetOffsetOrigin();
    const std::int64_t ensemble_bytes = record_size_ - 2; // L: everything before the checksum
    // Table entries that lie inside the record before its checksum; the others are unusable.
    const int in_record =
        static_cast<int>(std::clamp<std::int64_t>((ensemble_bytes - 6) / 2, 0, type_count_));
    for (int i = 0; i < type_count_; ++i) {
        type_slot& t = types_[static_cast<std::size_t>(i)];
        const std::int64_t offset = i < in_record ? read_u16(record + 6 + 2 * i) - origin : -1;
        if (offset < static_cast<std::int64_t>(ensemble_header_bytes) ||
            offset + 2 > ensemble_bytes) {
            t.offset = -1;
            continue;
        }
        // A data type ends where the next one starts, the last one before the reserved bytes; an
        // unusable next entry leaves it empty.
        const std::int64_t end = i + 1 == type_count_ ? read_u16(record + 2) - 2
                                 : i + 1 < in_record  ? read_u16(record + 8 + 2 * i) - origin
                                                      : offset;
        t = {read_u16(record + offset), static_cast<std::int16_t>(offset),
             static_cast<std::uint16_t>(
                 std::clamp<std::int64_t>(end - offset, 0, ensemble_bytes - offset))};
    }
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
