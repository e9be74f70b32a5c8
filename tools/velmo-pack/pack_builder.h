#pragma once
// Building a patch pack from a JSON manifest (the pack tool and the demo
// game share it). Records are written in manifest order.
#include <string>

#include "common/bytes.h"
#include "pack/pack_format.h"

namespace velmo {

struct PackBuilder {
  Bytes data;  // header placeholder + data area
  std::vector<PackEntry> entries;
  uint32_t formatVersion = 2;
};

void beginPack(PackBuilder& builder);
// Appends stored bytes to the data area; returns their offset.
uint64_t addPackData(PackBuilder& builder, ByteView stored);
// Stores an item (plain or as an LZMS block stream) and fills the entry's
// compressed, size, storedSize, dataOffset and crc.
bool addPackItem(PackBuilder& builder, PackEntry& entry, ByteView raw, bool compress, std::string& error);
// Writes the directory after the data area and the header; returns the container.
Bytes finishPack(PackBuilder& builder);

// Reads MANIFEST.json (paths relative to its folder) and builds the pack.
bool buildPackFromManifest(const std::string& manifestPath, Bytes& pack, std::string& error);

// Turns raw bytes into a block stream of LZMS buffers (one block per
// kMaxBlockRaw bytes).
bool encodeBlockStream(ByteView raw, Bytes& out, std::string& error);

}  // namespace velmo
