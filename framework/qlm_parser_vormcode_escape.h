// Plain text spliced into VormCode mark-up, so that the parser reads it back
// as the same characters and never as a tag.
#pragma once

#include <string>
#include <string_view>

// A text made safe to splice into mark-up: every "~" becomes the insertable
// "~(~)", so that it cannot open a tag, and every character outside ASCII
// (UTF-8, as the system's strings hold it), every control byte and every
// byte that is not part of a valid UTF-8 sequence becomes the insertable of
// its code point ("~(%233)"), so that a path shows as typed. A byte that is
// not valid UTF-8 stands for the code point of its value.
std::string markup_escape(std::string_view text);
