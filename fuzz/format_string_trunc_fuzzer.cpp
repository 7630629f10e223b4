// FormatStringTrunc with fuzzed formats and argument values, the argument types fixed: the format is
// built from six conversions in a fixed order of types (int, 64-bit integer, double, wide string,
// narrow string, int), each with fuzzed flags, width, precision and spelling, between fuzzed literal
// text. The result must be the C library's wide printf of the same format, cut to the capacity, with
// the NUL inside the buffer and nothing written past it.

#include <Marvane/String.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>

namespace {

struct Conversion {
    std::wstring ours;      // as the library spells it
    std::wstring reference; // the same conversion in the C library's wide printf
};

// Flags, width and precision that C defines for the conversion letter; both spellings share them.
std::wstring modifiers(FuzzedDataProvider& in, wchar_t letter) {
    const std::wstring numeric = L"diouxXfFeEgG";
    const std::wstring is_signed = L"difFeEgG";
    const std::wstring alternate = L"oxXfFeEgG";
    std::wstring out;
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    if (flags & 1) out += L'-';
    if ((flags & 2) && is_signed.find(letter) != std::wstring::npos) out += L'+';
    if ((flags & 4) && is_signed.find(letter) != std::wstring::npos) out += L' ';
    if ((flags & 8) && alternate.find(letter) != std::wstring::npos) out += L'#';
    if ((flags & 16) && numeric.find(letter) != std::wstring::npos) out += L'0';
    if (flags & 32) out += std::to_wstring(in.ConsumeIntegralInRange(0, 30));
    if ((flags & 64) && letter != L'c') out += L'.' + std::to_wstring(in.ConsumeIntegralInRange(0, 30));
    return out;
}

Conversion int_conversion(FuzzedDataProvider& in) {
    static const wchar_t kLetters[] = L"diouxXc";
    const wchar_t letter = kLetters[in.ConsumeIntegralInRange(0, 6)];
    const std::wstring mods = modifiers(in, letter);
    if (letter == L'c') {
        // The library's %c is a wide character, like the C library's %lc.
        const bool long_form = in.ConsumeBool();
        return {L"%" + mods + (long_form ? L"lc" : L"c"), L"%" + mods + L"lc"};
    }
    static const wchar_t* const kLengths[] = {L"", L"h", L"hh"};
    const std::wstring length = kLengths[in.ConsumeIntegralInRange(0, 2)];
    const std::wstring spelled = L"%" + mods + length + letter;
    return {spelled, spelled};
}

Conversion wide_int_conversion(FuzzedDataProvider& in) {
    static const wchar_t kLetters[] = L"diouxX";
    const wchar_t letter = kLetters[in.ConsumeIntegralInRange(0, 5)];
    const std::wstring mods = modifiers(in, letter);
    static const wchar_t* const kLengths[] = {L"ll", L"I64", L"j"};
    const std::wstring length = kLengths[in.ConsumeIntegralInRange(0, 2)];
    return {L"%" + mods + length + letter, L"%" + mods + L"ll" + letter};
}

Conversion double_conversion(FuzzedDataProvider& in) {
    static const wchar_t kLetters[] = L"fFeEgG";
    const wchar_t letter = kLetters[in.ConsumeIntegralInRange(0, 5)];
    const std::wstring spelled = L"%" + modifiers(in, letter) + letter;
    return {spelled, spelled};
}

Conversion string_conversion(FuzzedDataProvider& in, bool wide) {
    const std::wstring mods = modifiers(in, L's');
    static const wchar_t* const kWide[] = {L"s", L"ls", L"ws", L"lS"};
    static const wchar_t* const kNarrow[] = {L"hs", L"S", L"hS"};
    if (wide) return {L"%" + mods + kWide[in.ConsumeIntegralInRange(0, 3)], L"%" + mods + L"ls"};
    return {L"%" + mods + kNarrow[in.ConsumeIntegralInRange(0, 2)], L"%" + mods + L"s"};
}

// Printable text; a '%' in it is written as "%%".
std::wstring literal(FuzzedDataProvider& in) {
    std::wstring out;
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, 12);
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<wchar_t>(in.ConsumeIntegralInRange(0x20, 0x7E));
        out += c;
        if (c == L'%') out += L'%';
    }
    return out;
}

std::wstring wide_text(FuzzedDataProvider& in) {
    std::wstring out;
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, 40);
    for (size_t i = 0; i < n; ++i)
        out += static_cast<wchar_t>(in.ConsumeIntegralInRange(0x20, 0xD7FF));
    return out;
}

std::string narrow_text(FuzzedDataProvider& in) {
    std::string out;
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, 40);
    for (size_t i = 0; i < n; ++i)
        out += static_cast<char>(in.ConsumeIntegralInRange(0x20, 0x7E));
    return out;
}

int reference_format(wchar_t* out, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(out, capacity, format, args);
    va_end(args);
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int capacity = in.ConsumeIntegralInRange(-2, 700);
    const Conversion conversions[] = {int_conversion(in),           wide_int_conversion(in),
                                      double_conversion(in),        string_conversion(in, true),
                                      string_conversion(in, false), int_conversion(in)};
    std::wstring ours, reference;
    for (const Conversion& c : conversions) {
        const std::wstring text = literal(in);
        ours += text + c.ours;
        reference += text + c.reference;
    }
    const std::wstring tail = literal(in);
    ours += tail;
    reference += tail;

    const int first = in.ConsumeIntegral<int>();
    const long long second = in.ConsumeIntegral<long long>();
    double third = in.ConsumeFloatingPoint<double>();
    if (std::isnan(third)) third = 0.5; // the sign C prints for a NaN is not portable
    const std::wstring fourth = wide_text(in);
    const std::string fifth = narrow_text(in);
    int sixth = in.ConsumeIntegral<int>();
    // A character conversion gets a printable character: a NUL would end the comparison early.
    int first_value = first;
    if (conversions[0].reference.back() == L'c') first_value = 0x20 + (first & 0x7FFFFFFF) % 0x5F;
    if (conversions[5].reference.back() == L'c') sixth = 0x20 + (sixth & 0x7FFFFFFF) % 0x5F;

    constexpr size_t kReferenceRoom = 16384;
    auto expected = std::make_unique<wchar_t[]>(kReferenceRoom);
    const int length = reference_format(expected.get(), kReferenceRoom, reference.c_str(), first_value,
                                        second, third, fourth.c_str(), fifth.c_str(), sixth);
    if (length < 0) return 0; // outside what the C library formats; nothing to compare with

    // Exactly `capacity` elements (one sentinel element when there is no room at all).
    const size_t room = capacity > 0 ? static_cast<size_t>(capacity) : 1;
    auto buffer = std::make_unique<wchar_t[]>(room);
    buffer[0] = L'#';
    Marvane::String::FormatStringTrunc(buffer.get(), capacity, ours.c_str(), first_value, second, third,
                                       fourth.c_str(), fifth.c_str(), sixth);
    if (capacity <= 0) {
        if (buffer[0] != L'#') std::abort(); // no room: nothing may be written
        return 0;
    }
    const size_t kept = std::min(static_cast<size_t>(length), static_cast<size_t>(capacity) - 1);
    if (buffer[kept] != L'\0') std::abort();
    if (std::wmemcmp(buffer.get(), expected.get(), kept) != 0) std::abort();
    return 0;
}
