// The .qcn file: a compound file (OLE2 structured storage, version 3)
// holding a phone's NV items.
//
//   File_Version                      02 00 00 00 00 00
//   00000000/default/                 the model storage (any name when read)
//     Mobile_Property_Info            ESN, model, NV revision, phone
//                                     software version, writing program
//     Feature_Mask
//     NV_NUMBERED_ITEMS/NV_ITEM_ARRAY       records of the default context
//     NV_NUMBERED_ITEMS/NV_ITEM_ARRAY_SIM_1 / _SIM_2   contexts 1 and 2
//     NV_Items, EFS_Backup, Provisioning_Item_Files    EFS_Dir + EFS_Data
//
// A record is 136 bytes: size u16 (136), u16 1, item id u16, element index
// u16, 128 data bytes. The reader steps by the size field, keeps any order,
// and ignores streams it does not need; a record stream must be whole
// records from its first byte to its last.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "nv/diag_packets.h"
#include "platform/hresult.h"

struct QcnContents {
  std::uint32_t esn = 0;  // 0: not known
  std::uint16_t model = 0;
  std::string phoneVersion;
  std::string writer;
  std::vector<NvItem> items;                   // default context, in file order
  std::vector<NvItem> contextItems[2];         // contexts 1 and 2
};

// The compound file's bytes.
HRESULT EncodeQcn(const QcnContents& contents, std::string* bytes);
// Reads a compound file's bytes; HRESULT_FROM_WIN32(ERROR_BAD_FORMAT) when
// they are not a compound file or one whose root entry has siblings, hold no
// NV_ITEM_ARRAY, or hold a record whose size is below its 8-byte header, runs
// past its stream or does not fit an NV item, a piece of a record at the end,
// or an element above 255.
HRESULT DecodeQcn(std::string_view bytes, QcnContents* contents);

// Writes the file durably: a temporary beside it, flushed, renamed over it.
// A failure leaves no temporary behind and the file as it was.
HRESULT WriteQcnFile(const std::string& path, const QcnContents& contents);
// Reads and decodes a file of at most kMaxQcnBytes.
HRESULT ReadQcnFile(const std::string& path, QcnContents* contents);
constexpr size_t kMaxQcnBytes = 64u << 20;

// The streams' own layouts, apart so they can be checked on their own.
std::string EncodeItemRecords(const std::vector<NvItem>& items);
bool DecodeItemRecords(std::string_view stream, std::vector<NvItem>* items);
std::string EncodeMobileProperty(const QcnContents& contents);
// Tolerant: fields the stream is too short for keep their values.
void DecodeMobileProperty(std::string_view stream, QcnContents* contents);
