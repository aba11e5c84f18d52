// How CSNBasePersist reads a record from a stream, for any stream type. Load(byte_stream&) uses it
// through the stream's virtual calls; a face that knows its stream's final type at compile time
// (the COM face over a host's IStream) instantiates it for that type, so each read is made
// straight from the loop that needs it. Where every read is a system call, the extra call levels
// between the reader and the stream cost more than the reader's own work.
#pragma once

#include "ensemble/ensemble_format.h"
#include "ensemble/persist.h"

#include <algorithm>
#include <cstring>

namespace hyd {

namespace persist_detail {

// Reads exactly count bytes: a failing read returns its own code, a short one HY_E_ENDOFDATA.
template <class Stream> hresult read_exact(Stream& stream, void* buffer, std::uint32_t count) {
    std::uint32_t done = 0;
    const hresult hr = stream.read(buffer, count, &done);
    if (failed(hr)) return hr;
    return done < count ? HY_E_ENDOFDATA : s_ok;
}

// The reason of a failed read: the stream's own failure, or its end.
inline load_reason read_reason(hresult hr, load_reason at_end) {
    return hr == HY_E_ENDOFDATA ? at_end : load_reason::read_failed;
}

} // namespace persist_detail

template <class Stream> hresult CSNBasePersist::LoadFrom(Stream& stream) {
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

template <class Stream>
hresult CSNBasePersist::find_sync(Stream& stream, std::uint8_t header, std::uint8_t source) {
    using persist_detail::read_exact;
    using persist_detail::read_reason;
    // Each attempt counts its one-byte reads while looking for the first sync byte; the read that
    // reaches the limit is made but its byte is not looked at. A second byte that does not match
    // starts a new attempt with the byte after it. Lent bytes count as the reads they stand for.
    std::uint8_t byte = 0;
    for (;;) {
        std::uint32_t reads = 0;
        for (;;) {
            if (const auto lent = stream.lend(); !lent.empty()) {
                const std::size_t looked_at = sync_search_limit - 1 - reads;
                const std::size_t scan = std::min(lent.size(), looked_at);
                if (scan > 0 && lent[0] == header) { // records back to back: no search at all
                    stream.skip(1);
                    break;
                }
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

template <class Stream> hresult CSNBasePersist::load_record(Stream& stream) {
    using persist_detail::read_exact;
    using persist_detail::read_reason;
    clear();
    const auto fail = [this](hresult hr, load_reason why) {
        last_reason_ = why;
        return hr;
    };
    const std::uint8_t header = GetHeaderId(), source = GetSourceId();
    if (const hresult hr = find_sync(stream, header, source); hr != s_ok) return hr;

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
    std::uint8_t* record = hold(size, position);
    record[0] = header;
    record[1] = source;
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
    return check_record(hr, sum);
}

} // namespace hyd
