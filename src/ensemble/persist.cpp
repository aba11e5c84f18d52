#include "ensemble/persist.h"
#include "ensemble/persist_load.h"

#include "ensemble/ensemble_format.h"

#include <algorithm>
#include <cstring>
#include <new>

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
    return LoadFrom(stream);
}

std::uint8_t* CSNBasePersist::hold(std::uint32_t size, std::int64_t position) {
    if (capacity_ < size) {
        storage_.reset(new std::uint8_t[size]);
        capacity_ = size;
    }
    unpoison(storage_.get(), capacity_);
    poison(storage_.get() + size, capacity_ - size); // past the record, as if never allocated
    record_ = storage_.get();
    record_size_ = size;
    position_ = position;
    return record_;
}

hresult CSNBasePersist::check_record(hresult read, std::uint16_t sum) {
    index_types();
    if (read != s_ok) {
        last_reason_ = persist_detail::read_reason(read, load_reason::cut_short);
        return read;
    }
    if (sum != read_u16(record_ + record_size_ - 2)) {
        last_reason_ = load_reason::bad_checksum;
        return HY_E_BADENSEMBLE;
    }
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
    return record_;
}

void CSNBasePersist::index_types() {
    type_count_ = record_ ? record_[5] : 0;
    const std::uint8_t* record = record_;
    // Besides the IDs it reads, the index depends only on the byte count, the table and the
    // record's size (which with the count fixes the offset origin): a record laid out like one
    // of the last few takes their entries and reads its IDs again.
    const std::size_t layout_bytes = 4 + 2 * static_cast<std::size_t>(type_count_);
    const bool rememberable =
        type_count_ > 0 && type_count_ <= remembered_types && record_size_ >= 2 + layout_bytes;
    if (rememberable)
        for (const layout& known : layouts_)
            if (known.size == record_size_ &&
                std::memcmp(record + 2, known.bytes.data(), layout_bytes) == 0) {
                for (int i = 0; i < type_count_; ++i) {
                    type_slot& t = types_[static_cast<std::size_t>(i)];
                    t = known.slots[static_cast<std::size_t>(i)];
                    if (t.offset >= 0) t.id = read_u16(record + t.offset);
                }
                return;
            }
    const std::int64_t origin = GetOffsetOrigin();
    const std::int64_t ensemble_bytes = record_size_ - 2; // L: everything before the checksum
    // Table entries that lie inside the record before its checksum; the others are unusable.
    const int in_record =
        static_cast<int>(std::clamp<std::int64_t>((ensemble_bytes - 6) / 2, 0, type_count_));
    for (int i = in_record; i < type_count_; ++i) types_[static_cast<std::size_t>(i)].offset = -1;
    // A data type ends where the next entry points. The last one inside the record ends before
    // the reserved bytes when it is the table's last, else (the rest unusable) it is empty.
    const std::int64_t last_end = in_record == type_count_ ? read_u16(record + 2) - 2
                                  : in_record > 0 ? read_u16(record + 4 + 2 * in_record) - origin
                                                  : 0;
    for (int i = 0; i < in_record; ++i) {
        const std::int64_t offset = read_u16(record + 6 + 2 * i) - origin;
        type_slot& t = types_[static_cast<std::size_t>(i)];
        if (offset < static_cast<std::int64_t>(ensemble_header_bytes) ||
            offset + 2 > ensemble_bytes) {
            t.offset = -1;
            continue;
        }
        const std::int64_t end =
            i + 1 < in_record ? read_u16(record + 8 + 2 * i) - origin : last_end;
        t = {read_u16(record + offset), static_cast<std::int16_t>(offset),
             static_cast<std::uint16_t>(
                 std::clamp<std::int64_t>(end - offset, 0, ensemble_bytes - offset))};
    }
    if (rememberable) {
        layout& known = layouts_[next_layout_];
        next_layout_ = (next_layout_ + 1) % layouts_.size();
        known.size = record_size_;
        std::memcpy(known.bytes.data(), record + 2, layout_bytes);
        std::copy_n(types_.begin(), type_count_, known.slots.begin());
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
