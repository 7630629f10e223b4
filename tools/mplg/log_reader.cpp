#include "log_reader.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace mplg {

namespace {

class Cursor {
  public:
    Cursor(const std::vector<unsigned char>& data, std::size_t at) : bytes(data), position(at) {}
    std::size_t Position() const { return position; }
    bool U16(std::uint16_t& value) { return Take(&value, 2); }
    bool U32(std::uint32_t& value) { return Take(&value, 4); }
    bool U64(std::uint64_t& value) { return Take(&value, 8); }
    bool F64(double& value) { return Take(&value, 8); }
    bool String(std::string& text) {
        std::uint16_t count = 0;
        if (!U16(count)) return false;
        if (bytes.size() - position < 2u * count) return false;
        std::u16string units(count, u'\0');
        for (std::uint16_t i = 0; i < count; ++i) {
            units[i] = static_cast<char16_t>(bytes[position] | (bytes[position + 1] << 8));
            position += 2;
        }
        text = Utf16ToUtf8(units);
        return true;
    }

  private:
    // The log is little-endian, as is every host this tool is built for.
    bool Take(void* out, std::size_t size) {
        if (bytes.size() - position < size) return false;
        std::memcpy(out, bytes.data() + position, size);
        position += size;
        return true;
    }
    const std::vector<unsigned char>& bytes;
    std::size_t position;
};

// Reads one record; false if the file ends inside it. `known` is false for a type this tool cannot size.
bool ReadRecord(Cursor& in, Record& record, bool& known) {
    known = true;
    record.offset = in.Position();
    std::uint32_t word = 0;
    if (!in.U32(word)) return false;
    record.type = word & 0xFF;
    record.id = word >> 8;
    std::uint64_t wide = 0;
    std::uint32_t narrow = 0;
    switch (record.type) {
    case Tick:
        if (!in.U64(wide)) return false;
        record.time = static_cast<std::int64_t>(wide);
        return true;
    case BeginRange:
    case EndRange:
        if (!in.U64(record.handle) || !in.U64(wide)) return false;
        record.time = static_cast<std::int64_t>(wide);
        return true;
    case PushRange:
    case PopRange:
        if (!in.U32(record.thread) || !in.U64(wide)) return false;
        record.time = static_cast<std::int64_t>(wide);
        return true;
    case ThreadCreate:
    case GroupCreate:
        return in.String(record.name);
    case StatisticCreate:
        return in.String(record.name) && in.U32(record.statisticType) && in.String(record.description) &&
               in.String(record.unit) && in.F64(record.scale) && in.U32(record.method) &&
               in.U32(record.group);
    case CounterInc:
    case CounterDec:
        return true;
    case CounterAdd:
    case CounterSub:
    case CounterSet:
        if (!in.U32(narrow)) return false;
        record.amount = static_cast<std::int32_t>(narrow);
        return true;
    default:
        known = false;
        return false;
    }
}

} // namespace

bool ReadLog(const std::string& path, Log& log, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open '" + path + "'";
        return false;
    }
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file),
                                           std::istreambuf_iterator<char>()};
    log = Log();
    log.fileSize = bytes.size();
    Cursor in(bytes, 0);
    std::uint32_t headerWord = 0;
    if (!in.U32(headerWord) || headerWord != 0x200 || bytes.size() < 8 ||
        std::memcmp(bytes.data() + 4, "MPLG", 4) != 0) {
        error = "'" + path + "' is not an MPLG performance log";
        return false;
    }
    Cursor header(bytes, 8);
    std::uint64_t frequency = 0;
    std::string ignored;
    if (!header.U64(frequency) || !header.String(ignored)) {
        error = "'" + path + "' ends inside the MPLG header";
        return false;
    }
    log.ticksPerSecond = static_cast<std::int64_t>(frequency);
    Cursor records(bytes, header.Position());
    log.wholeRecordsEnd = records.Position();
    while (records.Position() < bytes.size()) {
        Record record;
        bool known = true;
        if (!ReadRecord(records, record, known)) {
            if (!known) {
                log.warning = "unknown record type " + std::to_string(record.type) + " at offset " +
                              std::to_string(record.offset) + "; reading stops there";
            } else {
                log.warning = "log cut short: the record at offset " + std::to_string(record.offset) +
                              " is incomplete; read up to offset " + std::to_string(log.wholeRecordsEnd) +
                              " of " + std::to_string(bytes.size());
            }
            break;
        }
        log.records.push_back(std::move(record));
        log.wholeRecordsEnd = records.Position();
    }
    return true;
}

const char* RecordTypeName(unsigned type) {
    switch (type) {
    case Tick:
        return "Tick";
    case BeginRange:
        return "BeginRange";
    case EndRange:
        return "EndRange";
    case PushRange:
        return "PushRange";
    case PopRange:
        return "PopRange";
    case ThreadCreate:
        return "ThreadCreate";
    case StatisticCreate:
        return "StatisticCreate";
    case GroupCreate:
        return "GroupCreate";
    case CounterInc:
        return "CounterInc";
    case CounterDec:
        return "CounterDec";
    case CounterAdd:
        return "CounterAdd";
    case CounterSub:
        return "CounterSub";
    case CounterSet:
        return "CounterSet";
    default:
        return "Unknown";
    }
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

} // namespace mplg
