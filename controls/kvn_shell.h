// What the kit asks of the desktop's shell: the folder dialog and the opener
// of web pages.
#pragma once

#include <functional>
#include <string>

// The folder dialog: path := the chosen folder, or empty when cancelled or
// when the dialog could not be shown. An empty initial folder preselects
// nothing.
void folder_browse(const std::string& title, const std::string& initialFolder, bool allowNewFolder, std::string& path);

// Opens a web page with the desktop's opener, only for http, https and
// mailto addresses (anything else, such as "javascript:" or a text starting
// with "-" that the opener would read as an option, opens nothing). False
// when refused or when the opener could not be started.
bool open_web_page(const std::string& url);
// Whether open_web_page would hand the address on: http, https or mailto.
bool web_address_allowed(const std::string& url);
// The opener open_web_page hands allowed addresses to; tests replace it.
extern std::function<bool(const std::string&)> gOpenUrl;
