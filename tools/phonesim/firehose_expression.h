// The numbers of rawprogram and patch attributes as a programmer evaluates
// them: decimal integers (a trailing "." marks decimal too), 0x hex,
// NUM_DISK_SECTORS (the addressed LUN's sector count), + - * / with the
// usual precedence, and CRC32(sector, bytes) over the LUN's current content.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace phonesim {

struct ExpressionContext {
  std::uint64_t diskSectors = 0;
  // CRC-32 of `bytes` bytes from sector `sector`; nullopt when out of range.
  std::function<std::optional<std::uint32_t>(std::uint64_t sector, std::uint64_t bytes)> crc32;
};

std::optional<std::uint64_t> EvaluateExpression(const std::string& text, const ExpressionContext& context);

// The CRC-32 of the GPT (reflected, polynomial 0xEDB88320).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

}  // namespace phonesim
