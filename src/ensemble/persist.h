// The ensemble holder: finds the next ensemble in a byte stream, checks it, holds its bytes and
// writes them back. CSNBasePersist is the generic reader; CSNPersist adds the long-leader check and
// LoadLast. The COM face forwards IPersistStream to these same members over the host's IStream.
//
// Choices where the record format leaves room:
// - A byte count too small to hold the six header bytes and the checksum (L + 2 below 8) is
//   rejected with HY_E_BADENSEMBLE before anything is allocated, like an oversized one; nothing is
//   held and the stream stands after the five header bytes.
// - An offset-table entry is usable only when the entry itself lies inside the ensemble (before the
//   checksum) and points at an ID word that does too: offset >= 6 and offset + 2 <= L. Any other
//   entry makes its data type absent for every lookup (FindType, GetType, GetTypeAt), and its size
//   is 0.
// - Data-type sizes use the 16-bit byte count and the next table entry as the format defines them,
//   then are clamped to the bytes between the data type's start and the checksum (never
//   negative), so no reader of a damaged record can step outside it.
// - Bytes of a record kept after a short read that were never read are zero.
#pragma once

#include "common/byte_stream.h"

#include <array>
#include <cstdint>
#include <memory>

namespace hyd {

// Layout-compatible with the Win32 GUID.
struct guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

// Why the last Load ended as it did, beside its result code.
enum class load_reason : std::uint8_t {
    none,         // no Load yet
    loaded,       // S_OK or another success code
    end_of_data,  // the stream ended before a whole record header was read
    no_sync,      // 131,072 reads without a sync byte (E_FAIL)
    too_long,     // byte count over the record limit (HY_E_BADENSEMBLE, nothing held)
    too_short,    // byte count too small for header and checksum (HY_E_BADENSEMBLE, nothing held)
    cut_short,    // the stream ended inside the record (HY_E_ENDOFDATA, partial record held)
    bad_checksum, // the record's checksum does not match (HY_E_BADENSEMBLE, record held)
    read_failed,  // a stream read failed; Load returns its code
    rejected,     // Validate refused the record; Load returns its code
    exception,    // an allocation or other failure inside Load (E_FAIL)
};

class CSNBasePersist {
  public:
    CSNBasePersist() = default;
    virtual ~CSNBasePersist() = default;
    CSNBasePersist(const CSNBasePersist&) = delete;
    CSNBasePersist& operator=(const CSNBasePersist&) = delete;

    // The slots mirroring IPersistStream.
    virtual hresult GetClassID(guid* clsid); // E_NOTIMPL: the ensemble object answers it
    virtual hresult IsDirty();               // S_FALSE always
    virtual hresult Load(byte_stream& stream);
    // Load over a stream whose type is known at compile time, its calls made directly (defined in
    // ensemble/persist_load.h). Load(byte_stream&) is LoadFrom over the virtual contract.
    template <class Stream> hresult LoadFrom(Stream& stream);
    virtual hresult Save(byte_stream& stream, bool clear_dirty);
    virtual hresult GetSizeMax(std::uint64_t* size);

    // Overridable parameters of the record layout.
    virtual std::uint32_t GetOffsetOrigin() const { return 0; }
    virtual std::uint8_t GetSourceId() const { return 0x7F; }
    virtual std::uint8_t GetHeaderId() const { return 0x7F; }
    // Runs after every load that read a whole record with a good checksum; its result is Load's.
    virtual hresult Validate() { return s_ok; }
    // The held record (L + 2 bytes, checksum included) and its length; null and 0 when empty.
    virtual const std::uint8_t* GetBuffer(std::uint32_t* pcb) const;

    // Data-type lookup over the held record; all answer "absent" when nothing is held. The
    // offset table is looked up once per Load, so these are cheap enough for every item read.
    int FindType(std::uint16_t id) const {
        for (int i = 0; i < type_count_; ++i) {
            const type_slot& t = types_[static_cast<std::size_t>(i)];
            if (t.offset >= 0 && t.id == id) return i;
        }
        return -1;
    }
    const std::uint8_t* GetType(std::uint16_t id) const { return GetTypeAt(FindType(id)); }
    const std::uint8_t* GetTypeAt(int index) const {
        const int offset = type_offset(index);
        return offset < 0 ? nullptr : record_ + offset;
    }
    // The ID word of the data type at index, as FindType matches it; 0 when the entry is unusable.
    std::uint16_t type_id(int index) const {
        return type_offset(index) < 0 ? 0 : types_[static_cast<std::size_t>(index)].id;
    }
    int GetTypeSize(int index) const {
        return type_offset(index) < 0 ? 0 : types_[static_cast<std::size_t>(index)].size;
    }

    // Stream offset of the held record's first byte; -1 when unknown or nothing is held.
    std::int64_t position() const { return position_; }
    bool holds_record() const { return record_ != nullptr; }
    std::uint32_t record_size() const { return record_size_; }
    load_reason last_reason() const { return last_reason_; }
    // Stream offset of the sync pair the last Load accepted, also when it then refused the record;
    // -1 when it found none or the stream cannot tell its position.
    std::int64_t last_start() const { return last_start_; }

  protected:
    void clear();

  private:
    template <class Stream> hresult load_record(Stream& stream);
    // Finds the sync pair: lent bytes are scanned in one go, others read one at a time.
    template <class Stream>
    hresult find_sync(Stream& stream, std::uint8_t header, std::uint8_t source);
    // Storage for a record of size bytes found at position, now held.
    std::uint8_t* hold(std::uint32_t size, std::int64_t position);
    // The end of every Load that held a record: read is how its body read ended, sum the
    // checksum of what arrived.
    hresult check_record(hresult read, std::uint16_t sum);
    // Looks up every offset-table entry of a newly held record once, for the lookups.
    void index_types();
    // Offset (from byte 0) of the data type at index, or -1 when the entry is unusable.
    int type_offset(int index) const {
        if (index < 0 || index >= type_count_) return -1;
        return types_[static_cast<std::size_t>(index)].offset;
    }

    // One offset-table entry of the held record: its ID word, offset (-1: unusable) and size.
    struct type_slot {
        std::uint16_t id;
        std::int16_t offset;
        std::uint16_t size;
    };

    // The record lives in storage kept from one Load to the next and grown when too small, so a
    // host loading record after record into one object does not allocate for each.
    std::unique_ptr<std::uint8_t[]> storage_;
    std::uint32_t capacity_ = 0;
    std::uint8_t* record_ = nullptr; // storage_ while a record is held, else null
    std::uint32_t record_size_ = 0;
    int type_count_ = 0; // N of the held record, 0 when empty
    std::array<type_slot, 255> types_{};
    // The last few layouts indexed: record bytes 2 to 5 and the offset table, the record's size
    // (0: none) and the entries found. The records of a file are laid out alike or take turns
    // between a few layouts (a bottom track every few ensembles), so most Loads find theirs here.
    static constexpr int remembered_types = 24; // tables longer than this are indexed each time
    struct layout {
        std::uint32_t size = 0;
        std::array<std::uint8_t, 4 + 2 * remembered_types> bytes{};
        std::array<type_slot, remembered_types> slots{};
    };
    std::array<layout, 4> layouts_{};
    std::size_t next_layout_ = 0; // the one to replace next
    std::int64_t position_ = -1;
    std::int64_t last_start_ = -1;
    load_reason last_reason_ = load_reason::none;
};

class CSNPersist : public CSNBasePersist {
  public:
    // HY_S_LONGLEADER when the variable leader is longer than 1,024 bytes, else S_OK.
    hresult Validate() override;
    // Loads the last ensemble that lies complete in a seekable stream, stepping back 64 bytes at a
    // time from its end; a record with a long variable leader does not end the search.
    virtual hresult LoadLast(byte_stream& stream);
};

} // namespace hyd
