#include "qlm_i18n.h"

int32_t i18n_script_last() { return 0; }

std::string i18n_script_name(int32_t) { return std::string(); }
