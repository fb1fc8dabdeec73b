// SHA-256, for telling whether two texts or files are the same without
// keeping them: the fingerprint of a database's content, for one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvanor {

class Sha256 {
 public:
  Sha256();
  void Add(const void* data, std::size_t size);
  void Add(const std::string& text) { Add(text.data(), text.size()); }
  // The digest as 64 lower-case hex digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes added
};

}  // namespace kelvanor
