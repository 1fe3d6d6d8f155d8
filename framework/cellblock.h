#pragma once
// The texts of one list row, and bytes the row carries without showing them,
// in a single allocation: a row costs one allocation however many cells it has.
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

class CellBlock {
  public:
    CellBlock() = default;
    explicit CellBlock(std::span<const std::string_view> cells, std::string_view attachment = {});
    CellBlock(CellBlock&&) noexcept = default;
    CellBlock& operator=(CellBlock&&) noexcept = default;

    int Count() const { return data_ ? static_cast<int>(Word(0)) : 0; }
    // Empty for a cell the row does not have.
    std::string_view Cell(int i) const;
    std::string_view Attachment() const;
    // Rebuilds the block, growing it to `i + 1` cells if needed.
    void SetCell(int i, std::string_view text);
    // A new empty cell at `at`, the others moving right.
    void InsertCell(int at);

  private:
    // Layout: uint32 count, uint32 ends[count + 1] (the last ends the
    // attachment), then the texts back to back and the attachment.
    uint32_t Word(int i) const;
    const char* Texts() const { return data_.get() + (Count() + 2) * sizeof(uint32_t); }
    void Build(std::span<const std::string_view> cells, std::string_view attachment);

    std::unique_ptr<char[]> data_;
};
