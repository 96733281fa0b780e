// .qcn files for the tests, written through libgsf's compound-file writer so
// that the bench's own reader is checked against another implementation of
// the container. The tree is the usual one: File_Version, then
// <model>/default/{Mobile_Property_Info, Feature_Mask, NV_NUMBERED_ITEMS/
// {NV_ITEM_ARRAY, NV_ITEM_ARRAY_SIM_1, NV_ITEM_ARRAY_SIM_2}}.
#pragma once
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>

#include <string>
#include <vector>

#include "tools/phonesim/nv_store.h"

struct QcnContent {
  std::string model = "00000000";
  std::vector<phonesim::NvRecord> items, sim1, sim2;
  bool withSim2 = true;
};

// One stream's bytes: records of 136 bytes, size, 1, id, index, data.
inline std::string NvItemArray(const std::vector<phonesim::NvRecord>& records) {
  std::string out;
  for (const phonesim::NvRecord& r : records) {
    const unsigned fields[] = {136, 1, r.key.id, r.key.index};
    for (unsigned f : fields) {
      out += static_cast<char>(f & 0xFF);
      out += static_cast<char>(f >> 8);
    }
    out.append(reinterpret_cast<const char*>(r.data.data()), r.data.size());
  }
  return out;
}

inline bool WriteQcnWithGsf(const std::string& path, const QcnContent& c) {
  GError* error = nullptr;
  GsfOutput* file = gsf_output_stdio_new(path.c_str(), &error);
  if (!file) {
    if (error) g_error_free(error);
    return false;
  }
  GsfOutfile* root = gsf_outfile_msole_new(file);
  auto stream = [](GsfOutfile* parent, const char* name, const std::string& bytes) {
    GsfOutput* s = gsf_outfile_new_child(parent, name, FALSE);
    bool ok = gsf_output_write(s, bytes.size(), reinterpret_cast<const guint8*>(bytes.data()));
    ok = gsf_output_close(s) && ok;
    g_object_unref(s);
    return ok;
  };
  auto storage = [](GsfOutfile* parent, const char* name) { return GSF_OUTFILE(gsf_outfile_new_child(parent, name, TRUE)); };
  auto close = [](GsfOutfile* s) {
    bool ok = gsf_output_close(GSF_OUTPUT(s));
    g_object_unref(s);
    return ok;
  };
  bool ok = stream(root, "File_Version", std::string("\x02\0\0\0\0\0", 6));
  GsfOutfile* model = storage(root, c.model.c_str());
  GsfOutfile* def = storage(model, "default");
  ok = stream(def, "Mobile_Property_Info", std::string(12, '\0')) && ok;
  ok = stream(def, "Feature_Mask", std::string(2, '\0')) && ok;
  GsfOutfile* numbered = storage(def, "NV_NUMBERED_ITEMS");
  ok = stream(numbered, "NV_ITEM_ARRAY", NvItemArray(c.items)) && ok;
  ok = stream(numbered, "NV_ITEM_ARRAY_SIM_1", NvItemArray(c.sim1)) && ok;
  if (c.withSim2) ok = stream(numbered, "NV_ITEM_ARRAY_SIM_2", NvItemArray(c.sim2)) && ok;
  ok = close(numbered) && ok;
  ok = close(def) && ok;
  ok = close(model) && ok;
  ok = close(root) && ok;
  if (!gsf_output_is_closed(file)) gsf_output_close(file);
  g_object_unref(file);
  return ok;
}
