// Colour values of VormCode properties.
#include "qlm_parser_vormcode_colors.h"

#include "qlm_base_codes.h"
#include "qlm_base_object.h"
#include "qlm_base_util.h"
#include "qlm_colors.h"

bool tblocks_property_color(const rTCEntry* value, uint32_t& color) {
  if (value == nullptr) return false;
  switch (value->kind) {
    case ET_ID: {
      const std::string* name = value->String();
      if (name == nullptr) raise_base_error(errRunTime, "{tblocks_property_color.ET_ID.ename=NIL}");
      rColorFind find;
      if (color_find_by_name(&find, *name, "html")) {
        color = find.color_found;
        return true;
      }
      if (string_trim_upper(*name) == string_trim_upper("none")) {
        color = rgb_none;
        return true;
      }
      return false;
    }
    case ET_LIST: {
      const cTCEntries* list = value->List();
      if (list == nullptr) return false;
      uint8_t parts[4] = {0, 0, 0, 255};
      int taken = 0;
      for (const rTCEntry* e = list->First(); e != nullptr && taken < 4; e = e->next) {
        if (e->kind != ET_INTEGER || e->value.integer < 0 || e->value.integer > 255) break;
        parts[taken++] = uint8_t(e->value.integer);
      }
      if (taken < 3) return false;
      color = color_rgba(parts[0], parts[1], parts[2], parts[3]);
      return true;
    }
    default: return false;
  }
}

bool tblocks_color(const rTCProperty* property, uint32_t& color) {
  return property != nullptr && tblocks_property_color(&property->value, color);
}
