#include "imaging/bitmap_font.h"

#include <algorithm>
#include <array>

namespace tarnwick {

namespace {

struct Glyph {
    char c;
    const char* rows; // kGlyphHeight rows of kGlyphWidth cells, '#' inked
};

// clang-format off
constexpr Glyph kGlyphs[] = {
    {'A', ".###." "#...#" "#...#" "#####" "#...#" "#...#" "#...#"},
    {'B', "####." "#...#" "#...#" "####." "#...#" "#...#" "####."},
    {'C', ".###." "#...#" "#...." "#...." "#...." "#...#" ".###."},
    {'D', "####." "#...#" "#...#" "#...#" "#...#" "#...#" "####."},
    {'E', "#####" "#...." "#...." "####." "#...." "#...." "#####"},
    {'F', "#####" "#...." "#...." "####." "#...." "#...." "#...."},
    {'G', ".###." "#...#" "#...." "#.###" "#...#" "#...#" ".####"},
    {'H', "#...#" "#...#" "#...#" "#####" "#...#" "#...#" "#...#"},
    {'I', ".###." "..#.." "..#.." "..#.." "..#.." "..#.." ".###."},
    {'J', "..###" "...#." "...#." "...#." "...#." "#..#." ".##.."},
    {'K', "#...#" "#..#." "#.#.." "##..." "#.#.." "#..#." "#...#"},
    {'L', "#...." "#...." "#...." "#...." "#...." "#...." "#####"},
    {'M', "#...#" "##.##" "#.#.#" "#.#.#" "#...#" "#...#" "#...#"},
    {'N', "#...#" "#...#" "##..#" "#.#.#" "#..##" "#...#" "#...#"},
    {'O', ".###." "#...#" "#...#" "#...#" "#...#" "#...#" ".###."},
    {'P', "####." "#...#" "#...#" "####." "#...." "#...." "#...."},
    {'Q', ".###." "#...#" "#...#" "#...#" "#.#.#" "#..#." ".##.#"},
    {'R', "####." "#...#" "#...#" "####." "#.#.." "#..#." "#...#"},
    {'S', ".####" "#...." "#...." ".###." "....#" "....#" "####."},
    {'T', "#####" "..#.." "..#.." "..#.." "..#.." "..#.." "..#.."},
    {'U', "#...#" "#...#" "#...#" "#...#" "#...#" "#...#" ".###."},
    {'V', "#...#" "#...#" "#...#" "#...#" "#...#" ".#.#." "..#.."},
    {'W', "#...#" "#...#" "#...#" "#.#.#" "#.#.#" "#.#.#" ".#.#."},
    {'X', "#...#" "#...#" ".#.#." "..#.." ".#.#." "#...#" "#...#"},
    {'Y', "#...#" "#...#" ".#.#." "..#.." "..#.." "..#.." "..#.."},
    {'Z', "#####" "....#" "...#." "..#.." ".#..." "#...." "#####"},
    {'0', ".###." "#...#" "#..##" "#.#.#" "##..#" "#...#" ".###."},
    {'1', "..#.." ".##.." "..#.." "..#.." "..#.." "..#.." ".###."},
    {'2', ".###." "#...#" "....#" "...#." "..#.." ".#..." "#####"},
    {'3', "#####" "...#." "..#.." "...#." "....#" "#...#" ".###."},
    {'4', "...#." "..##." ".#.#." "#..#." "#####" "...#." "...#."},
    {'5', "#####" "#...." "####." "....#" "....#" "#...#" ".###."},
    {'6', "..##." ".#..." "#...." "####." "#...#" "#...#" ".###."},
    {'7', "#####" "....#" "...#." "..#.." ".#..." ".#..." ".#..."},
    {'8', ".###." "#...#" "#...#" ".###." "#...#" "#...#" ".###."},
    {'9', ".###." "#...#" "#...#" ".####" "....#" "...#." ".##.."},
    {'.', "....." "....." "....." "....." "....." ".##.." ".##.."},
    {',', "....." "....." "....." "....." ".##.." "..#.." ".#..."},
    {':', "....." ".##.." ".##.." "....." ".##.." ".##.." "....."},
    {'\'', "..#.." "..#.." ".#..." "....." "....." "....." "....."},
    {'"', ".#.#." ".#.#." "....." "....." "....." "....." "....."},
    {'(', "...#." "..#.." ".#..." ".#..." ".#..." "..#.." "...#."},
    {')', ".#..." "..#.." "...#." "...#." "...#." "..#.." ".#..."},
    {'/', "....." "....#" "...#." "..#.." ".#..." "#...." "....."},
    {'-', "....." "....." "....." "#####" "....." "....." "....."},
    {'!', "..#.." "..#.." "..#.." "..#.." "..#.." "....." "..#.."},
    {'?', ".###." "#...#" "....#" "...#." "..#.." "....." "..#.."},
    {'~', "....." "....." ".#..." "#.#.#" "...#." "....." "....."},
    {'_', "....." "....." "....." "....." "....." "....." "#####"},
};
// clang-format on

using Rows = std::array<uint8_t, kGlyphHeight>; // bit 4 is the leftmost column

constexpr Rows rowsOf(const char* cells) {
    Rows rows{};
    for (int y = 0; y < kGlyphHeight; ++y)
        for (int x = 0; x < kGlyphWidth; ++x)
            if (cells[y * kGlyphWidth + x] == '#') rows[y] |= uint8_t(1u << (kGlyphWidth - 1 - x));
    return rows;
}

constexpr std::array<Rows, 128> makeTable() {
    std::array<Rows, 128> table{};
    for (const Glyph& g : kGlyphs) table[static_cast<unsigned char>(g.c)] = rowsOf(g.rows);
    return table;
}

constexpr std::array<Rows, 128> kTable = makeTable();

const Rows& glyphFor(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const auto u = static_cast<unsigned char>(c);
    return kTable[u < 128 ? u : ' '];
}

void fillBlock(WorkBitmap& bitmap, int32_t x, int32_t y, int32_t size, Bgr colour) {
    const int32_t x0 = std::max(0, x), x1 = std::min(bitmap.width(), x + size);
    const int32_t y0 = std::max(0, y), y1 = std::min(bitmap.height(), y + size);
    for (int32_t row = y0; row < y1; ++row) {
        uint8_t* p = bitmap.data() + bitmap.stride() * row + 3 * x0;
        for (int32_t col = x0; col < x1; ++col, p += 3) {
            p[0] = colour.b;
            p[1] = colour.g;
            p[2] = colour.r;
        }
    }
}

bool inked(const Rows& rows, int32_t x, int32_t y) {
    if (x < 0 || x >= kGlyphWidth || y < 0 || y >= kGlyphHeight) return false;
    return (rows[static_cast<size_t>(y)] >> (kGlyphWidth - 1 - x)) & 1u;
}

} // namespace

int32_t textWidth(std::string_view text, int32_t scale) {
    if (text.empty()) return 0;
    return (static_cast<int32_t>(text.size()) * kGlyphAdvance - 1 + 2) * scale;
}

int32_t textHeight(int32_t scale) {
    return (kGlyphHeight + 2) * scale;
}

void drawText(WorkBitmap& bitmap, int32_t x, int32_t y, std::string_view text, int32_t scale,
              Bgr ink, Bgr outline) {
    if (scale <= 0) return;
    // The whole line's outline first, then the ink, so that no outline covers a neighbour's ink.
    for (int pass = 0; pass < 2; ++pass) {
        int32_t left = x + scale;
        for (const char c : text) {
            const Rows& rows = glyphFor(c);
            for (int32_t gy = -1; gy <= kGlyphHeight; ++gy) {
                for (int32_t gx = -1; gx <= kGlyphWidth; ++gx) {
                    const bool on = inked(rows, gx, gy);
                    bool ring = false;
                    for (int32_t dy = -1; dy <= 1 && !on && !ring; ++dy)
                        for (int32_t dx = -1; dx <= 1 && !ring; ++dx)
                            ring = inked(rows, gx + dx, gy + dy);
                    if (pass == 0 ? ring && !on : on)
                        fillBlock(bitmap, left + gx * scale, y + (gy + 1) * scale, scale,
                                  pass == 0 ? outline : ink);
                }
            }
            left += kGlyphAdvance * scale;
        }
    }
}

} // namespace tarnwick
