// The numbered NV items of a .qcn backup, for seeding bench phones: the
// records of NV_ITEM_ARRAY (context 0) and of NV_ITEM_ARRAY_SIM_1 and _SIM_2
// (contexts 1 and 2) under <model storage>/default/NV_NUMBERED_ITEMS. The
// model storage may have any name; everything else in the file is ignored.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "tools/phonesim/nv_store.h"
#include "tools/phonesim/sim_frame.h"

namespace phonesim {

// The records of one item stream: each starts with its own size (u16, the
// whole record), an unused u16, the item id and element index (u16 each),
// then the data. Reading stops at the end or at a size below 8.
std::vector<NvRecord> ParseNvItemArray(const Bytes& stream, std::uint16_t context);

std::optional<std::vector<NvRecord>> ReadQcn(Bytes file, std::string* error);
std::optional<std::vector<NvRecord>> LoadQcnFile(const std::string& path, std::string* error);

}  // namespace phonesim
