#include "archive/archive_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// Items are held until this much has gathered, then written to the spool in one go.
constexpr size_t kSpoolChunk = size_t{1} << 20;

void write_spool(ArchiveWriter& writer) {
    if (!writer.spool || writer.items.empty()) return;
    if (writer.spool_error == 0 &&
        std::fwrite(writer.items.data(), 1, writer.items.size(), writer.spool) != writer.items.size())
        writer.spool_error = errno != 0 ? errno : EIO;
    writer.spooled += writer.items.size();
    writer.items.clear();
}

void spool_when_due(ArchiveWriter& writer) {
    if (writer.spool && writer.items.size() >= kSpoolChunk) write_spool(writer);
}

void encode_item_kind(ArchiveWriter& writer, ItemKind kind) {
    Packing dir{&writer.control};
    code_item_kind(dir, writer.control_probs, writer.previous_special, kind);
    ++writer.items_coded;
}

void append_block(std::vector<uint8_t>& out, const std::vector<uint8_t>& block) {
    append_length_code(out, static_cast<uint32_t>(block.size()));
    out.insert(out.end(), block.begin(), block.end());
}

} // namespace

size_t length_code_size(uint32_t value) {
    if (value > 0x3FFFFFu) return 4;
    if (value > 0x3FFFu) return 3;
    if (value > 0x3Fu) return 2;
    return 1;
}

void append_length_code(std::vector<uint8_t>& out, uint32_t value) {
    const uint32_t extra = static_cast<uint32_t>(length_code_size(value) - 1);
    const uint32_t code = (value << 2) | extra;
    for (uint32_t i = 0; i <= extra; ++i)
        out.push_back(static_cast<uint8_t>(code >> (8 * i)));
}

void writer_init(ArchiveWriter& writer, uint8_t flags) {
    writer.flags = flags;
    init_encoder(writer.control);
    std::fill(std::begin(writer.control_probs), std::end(writer.control_probs), kProbInit);
    writer.previous_special = 0;
    writer.items.clear();
    writer.spool = nullptr;
    writer.spooled = 0;
    writer.spool_error = 0;
    writer.items_coded = 0;
}

void writer_init_spooled(ArchiveWriter& writer, uint8_t flags, FILE* spool) {
    writer_init(writer, flags);
    writer.spool = spool;
    errno = 0;
    if (!seek_file(spool, 0)) writer.spool_error = errno != 0 ? errno : EIO;
}

uint64_t writer_items_size(const ArchiveWriter& writer) {
    return writer.spooled + writer.items.size();
}

bool writer_add_raw_item(ArchiveWriter& writer, const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxLengthCode) return false;
    encode_item_kind(writer, ItemKind::Raw);
    append_length_code(writer.items, static_cast<uint32_t>(size));
    writer.items.insert(writer.items.end(), data, data + size);
    spool_when_due(writer);
    return true;
}

void writer_add_raw_bytes(ArchiveWriter& writer, const uint8_t* data, size_t size, size_t max_item) {
    const size_t step = std::clamp<size_t>(max_item, 1, kMaxLengthCode);
    for (size_t offset = 0; offset < size; offset += step)
        writer_add_raw_item(writer, data + offset, std::min(step, size - offset));
}

size_t raw_archive_size(size_t size, size_t max_item) {
    // The control decisions are coded as writer_add_raw_bytes and writer_finish code them; the items
    // are only counted.
    ArchiveWriter writer;
    writer_init(writer, 0);
    const size_t step = std::clamp<size_t>(max_item, 1, kMaxLengthCode);
    size_t items = 0;
    for (size_t offset = 0; offset < size; offset += step) {
        const size_t n = std::min(step, size - offset);
        encode_item_kind(writer, ItemKind::Raw);
        items += length_code_size(static_cast<uint32_t>(n)) + n;
    }
    encode_item_kind(writer, ItemKind::Raw);
    items += length_code_size(0);
    flush_encoder(writer.control);
    const size_t control = writer.control.out.size();
    return sizeof kArchiveMagic + 1 + length_code_size(static_cast<uint32_t>(control)) + control + items;
}

void writer_begin_stream_item(ArchiveWriter& writer, bool remember) {
    encode_item_kind(writer, ItemKind::Stream);
    Packing dir{&writer.control};
    code_remember_bit(dir, writer.control_probs, remember);
}

bool writer_end_stream_item(ArchiveWriter& writer, RangeEncoder& aux, RangeEncoder& page,
                            RangeEncoder& data) {
    flush_encoder(aux);
    flush_encoder(page);
    flush_encoder(data);
    for (const RangeEncoder* enc : {&aux, &page, &data})
        if (enc->out.size() > kMaxLengthCode) return false;
    append_block(writer.items, aux.out);
    append_block(writer.items, page.out);
    append_block(writer.items, data.out);
    spool_when_due(writer);
    return true;
}

void writer_begin_repeat_item(ArchiveWriter& writer) {
    encode_item_kind(writer, ItemKind::Repeat);
}

ArchiveWriterMark writer_mark(const ArchiveWriter& writer) {
    ArchiveWriterMark mark;
    mark.control = writer.control;
    std::copy(std::begin(writer.control_probs), std::end(writer.control_probs), mark.control_probs);
    mark.previous_special = writer.previous_special;
    mark.items_size = writer_items_size(writer);
    mark.items_coded = writer.items_coded;
    return mark;
}

void writer_rollback(ArchiveWriter& writer, const ArchiveWriterMark& mark) {
    writer.control = mark.control;
    std::copy(std::begin(mark.control_probs), std::end(mark.control_probs), writer.control_probs);
    writer.previous_special = mark.previous_special;
    writer.items_coded = mark.items_coded;
    if (mark.items_size >= writer.spooled) {
        writer.items.resize(static_cast<size_t>(mark.items_size - writer.spooled));
        return;
    }
    // Back into what was spooled: the spool is written again from the mark on.
    writer.items.clear();
    writer.spooled = mark.items_size;
    errno = 0;
    if (writer.spool_error == 0 && !seek_file(writer.spool, writer.spooled))
        writer.spool_error = errno != 0 ? errno : EIO;
}

namespace {

std::vector<uint8_t> finish_head(ArchiveWriter& writer) {
    encode_item_kind(writer, ItemKind::Raw);
    append_length_code(writer.items, 0); // the end marker
    flush_encoder(writer.control);
    std::vector<uint8_t> head(std::begin(kArchiveMagic), std::end(kArchiveMagic));
    head.push_back(writer.flags);
    append_block(head, writer.control.out);
    return head;
}

} // namespace

bool writer_flush_spool(ArchiveWriter& writer) {
    write_spool(writer);
    if (writer.spool_error == 0 && std::fflush(writer.spool) != 0)
        writer.spool_error = errno != 0 ? errno : EIO;
    return writer.spool_error == 0;
}

bool writer_finish_spooled(ArchiveWriter& writer, std::vector<uint8_t>& head) {
    head = finish_head(writer);
    write_spool(writer);
    if (writer.spool_error == 0 && std::fflush(writer.spool) != 0)
        writer.spool_error = errno != 0 ? errno : EIO;
    return writer.spool_error == 0;
}

bool seek_file(FILE* file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<int64_t>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool truncate_file(FILE* file, uint64_t size) {
#ifdef _WIN32
    const errno_t error = _chsize_s(_fileno(file), static_cast<long long>(size));
    if (error != 0) errno = error;
    return error == 0;
#else
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
#endif
}

std::vector<uint8_t> writer_finish(ArchiveWriter& writer) {
    const std::vector<uint8_t> head = finish_head(writer);
    // The items move up in their own buffer (which usually has the room) rather than into a new one.
    std::vector<uint8_t> archive = std::move(writer.items);
    archive.insert(archive.begin(), head.begin(), head.end());
    return archive;
}
