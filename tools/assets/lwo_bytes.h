// The IFF byte layer of LWO2 files, shared by the data-set generator's object writer and the tests
// that craft objects (sound or damaged): big-endian fields, and chunks and sub-chunks whose lengths
// are filled in when they close. Header-only, so the tests need none of the generator's objects.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

struct LwoWriter {
    std::vector<uint8_t> bytes;
    std::vector<size_t> open;       // offsets of open length fields
    std::vector<int> open_wide;     // 1: U4 length (chunk), 0: U2 (sub-chunk)
};

inline void lwo_writer_u1(LwoWriter* w, uint8_t v) { w->bytes.push_back(v); }

inline void lwo_writer_u2(LwoWriter* w, uint16_t v) {
    w->bytes.push_back(uint8_t(v >> 8));
    w->bytes.push_back(uint8_t(v));
}

inline void lwo_writer_u4(LwoWriter* w, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) w->bytes.push_back(uint8_t(v >> s));
}

inline void lwo_writer_f4(LwoWriter* w, float v) {
    uint32_t bits;
    memcpy(&bits, &v, 4);
    lwo_writer_u4(w, bits);
}

// Four characters.
inline void lwo_writer_id(LwoWriter* w, const char* id) {
    for (int i = 0; i < 4; i++) w->bytes.push_back(uint8_t(id[i]));
}

// Variable-length index: two bytes below 0xFF00, otherwise 0xFF and three bytes.
inline void lwo_writer_vx(LwoWriter* w, uint32_t v) {
    if (v < 0xFF00) lwo_writer_u2(w, uint16_t(v));
    else lwo_writer_u4(w, 0xFF000000u | v);
}

// NUL-terminated, padded to an even length.
inline void lwo_writer_string(LwoWriter* w, const char* s) {
    size_t n = strlen(s) + 1;
    w->bytes.insert(w->bytes.end(), s, s + n);
    if (n & 1) w->bytes.push_back(0);
}

inline void lwo_writer_open(LwoWriter* w, const char* id, int wide) {
    lwo_writer_id(w, id);
    w->open.push_back(w->bytes.size());
    w->open_wide.push_back(wide);
    if (wide) lwo_writer_u4(w, 0);
    else lwo_writer_u2(w, 0);
}
inline void lwo_writer_chunk(LwoWriter* w, const char* id) { lwo_writer_open(w, id, 1); }  // U4 length
inline void lwo_writer_sub(LwoWriter* w, const char* id) { lwo_writer_open(w, id, 0); }    // U2 length

// Closes the innermost chunk or sub-chunk; an odd length gets a pad byte it does not count.
inline void lwo_writer_end(LwoWriter* w) {
    size_t at = w->open.back();
    int wide = w->open_wide.back();
    w->open.pop_back();
    w->open_wide.pop_back();
    size_t start = at + (wide ? 4 : 2);
    size_t length = w->bytes.size() - start;
    if (wide) {
        for (int i = 0; i < 4; i++) w->bytes[at + i] = uint8_t(length >> (24 - 8 * i));
    } else {
        w->bytes[at] = uint8_t(length >> 8);
        w->bytes[at + 1] = uint8_t(length);
    }
    if (length & 1) w->bytes.push_back(0);
}

// "FORM" ... "LWO2"; close with lwo_writer_end.
inline void lwo_writer_form(LwoWriter* w) {
    lwo_writer_chunk(w, "FORM");
    lwo_writer_id(w, "LWO2");
}
