#include "framework/cellblock.h"

#include <algorithm>
#include <cstring>
#include <vector>

CellBlock::CellBlock(std::span<const std::string_view> cells, std::string_view attachment) {
    Build(cells, attachment);
}

void CellBlock::Build(std::span<const std::string_view> cells, std::string_view attachment) {
    const size_t n = cells.size();
    size_t bytes = attachment.size();
    for (std::string_view c : cells) {
        bytes += c.size();
    }
    const size_t header = (n + 2) * sizeof(uint32_t);
    auto data = std::make_unique_for_overwrite<char[]>(header + bytes);
    uint32_t words[2 + 16];
    std::vector<uint32_t> many;
    uint32_t* h = words;
    if (n + 2 > std::size(words)) {
        many.resize(n + 2);
        h = many.data();
    }
    h[0] = static_cast<uint32_t>(n);
    char* out = data.get() + header;
    uint32_t end = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!cells[i].empty()) {
            std::memcpy(out + end, cells[i].data(), cells[i].size());
        }
        end += static_cast<uint32_t>(cells[i].size());
        h[1 + i] = end;
    }
    if (!attachment.empty()) {
        std::memcpy(out + end, attachment.data(), attachment.size());
    }
    h[1 + n] = end + static_cast<uint32_t>(attachment.size());
    std::memcpy(data.get(), h, header);
    data_ = std::move(data);
}

uint32_t CellBlock::Word(int i) const {
    uint32_t w;
    std::memcpy(&w, data_.get() + static_cast<size_t>(i) * sizeof w, sizeof w);
    return w;
}

std::string_view CellBlock::Cell(int i) const {
    if (i < 0 || i >= Count()) {
        return {};
    }
    const uint32_t begin = i == 0 ? 0 : Word(i);
    return {Texts() + begin, Word(1 + i) - begin};
}

std::string_view CellBlock::Attachment() const {
    if (!data_) {
        return {};
    }
    const int n = Count();
    const uint32_t begin = n == 0 ? 0 : Word(n);
    return {Texts() + begin, Word(1 + n) - begin};
}

void CellBlock::SetCell(int i, std::string_view text) {
    if (i < 0) {
        return;
    }
    const int n = std::max(Count(), i + 1);
    std::vector<std::string_view> cells(static_cast<size_t>(n));
    for (int c = 0; c < Count(); ++c) {
        cells[static_cast<size_t>(c)] = Cell(c);
    }
    cells[static_cast<size_t>(i)] = text;
    // The views point into this block, which lives until Build has copied them.
    CellBlock next;
    next.Build(cells, Attachment());
    *this = std::move(next);
}

void CellBlock::InsertCell(int at) {
    std::vector<std::string_view> cells;
    for (int c = 0; c < Count(); ++c) {
        cells.push_back(Cell(c));
    }
    at = std::clamp(at, 0, Count());
    cells.insert(cells.begin() + at, std::string_view());
    CellBlock next;
    next.Build(cells, Attachment());
    *this = std::move(next);
}
