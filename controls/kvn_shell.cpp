#include "kvn_shell.h"

#include <cctype>

#include "plat_shell_open.h"
#include "ui_app.h"

void folder_browse(const std::string& title, const std::string& initialFolder, bool allowNewFolder, std::string& path) {
  std::string chosen;
  if (ui::BrowseFolder(title, initialFolder, allowNewFolder, chosen))
    path = chosen;
  else
    path.clear();
}

std::function<bool(const std::string&)> gOpenUrl = [](const std::string& url) { return plat::shell_open_url(url); };

bool web_address_allowed(const std::string& url) {
  // The scheme, letters up to the first ':' (compared without case).
  const size_t colon = url.find(':');
  if (colon == std::string::npos) return false;
  std::string scheme;
  for (size_t i = 0; i < colon; ++i) scheme += char(std::tolower(static_cast<unsigned char>(url[i])));
  return scheme == "http" || scheme == "https" || scheme == "mailto";
}

bool open_web_page(const std::string& url) { return web_address_allowed(url) && gOpenUrl && gOpenUrl(url); }
