// The chunk coder of compressed bitmap list streams: a BMP file is cut into
// pieces of kBitmapPieceSize bytes and each piece becomes one chunk, either
// compressed (flag 64: 16-bit control words, literals, back copies of 3..18
// bytes up to 4095 back, runs of 16..4095 equal bytes) or stored (flag 128).
//
// Pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmar {

inline constexpr std::size_t kBitmapPieceSize = 32781;

// Encodes one piece (at most kBitmapPieceSize bytes); the result is never longer
// than Size + 1 (the stored form).
std::vector<std::uint8_t> CompressPiece(const std::uint8_t* Piece, std::size_t Size);

// Decodes one chunk. A chunk with another flag, a copy reaching before the start
// of the piece, output beyond kBitmapPieceSize bytes, or input ending inside an
// item raises EStreamError; nothing is read or written out of bounds.
std::vector<std::uint8_t> DecompressPiece(const std::uint8_t* Chunk, std::size_t Length);

}  // namespace velmar
