// A licence-agreement page of about nine thousand characters in the shape of
// the installer's agreement: a centred header, a bold title two points
// larger and a line break, then sections whose titles are centred and bold
// and whose bodies are justified, with a few coloured runs and hyperlinks.
#pragma once

#include <string>
#include <vector>

namespace bench {

// The agreement's section bodies and titles.
inline const char* const kAgreementBodies[] = {
    "This End User Software License Agreement is a legal agreement between you and the maker of the "
    "software for the software product identified above, which includes computer software and may "
    "include associated media, printed materials and online or electronic documentation. By installing, "
    "copying or otherwise using the software, you agree to be bound by the terms of this agreement. ",
    "The software is protected by copyright laws and international copyright treaties, as well as other "
    "intellectual property laws and treaties. The software is licensed, not sold. You may install and "
    "use one copy of the software on a single computer for your own use, and you may make one copy for "
    "backup purposes only. ",
    "You may not reverse engineer, decompile or disassemble the software, except and only to the extent "
    "that such activity is expressly permitted by applicable law notwithstanding this limitation. You may "
    "not rent, lease or lend the software, nor transfer it to another party without this agreement. ",
};
inline const char* const kAgreementTitles[] = {"Grant of License", "Description of Other Rights and Limitations",
                                               "Copyright",        "Limited Warranty",
                                               "Termination",      "Miscellaneous"};

// One paragraph of the agreement in pieces any mark-up can wrap: a section
// title, or a body of two texts with an optional link and an optional
// emphasised word between them.
struct AgreementSection {
  std::string title;
  const char* first = nullptr;
  bool link = false;
  bool important = false;
  const char* second = nullptr;
};

// The agreement's header in its own mark-up.
inline const char* const kAgreementHeader =
    "~{text <ff=\"Arial\";alignx=CENTER;spacing=6;fs:pt=10>} ~<b;fs:pt=\"+2\">End User Software License "
    "Agreement~>~)";

// One section in the agreement's mark-up: its centred bold title, then its
// justified body.
inline std::string agreement_markup(const AgreementSection& a) {
  std::string s = "~{text <alignx=CENTER>}~<b>" + a.title + "~>~(p)~{text <alignx=JUSTIFY>}";
  s += a.first;
  if (a.link) s += "Read the ~<ct=RoyalBlue;href=\"https://example.org/licence\">full licence~> online. ";
  if (a.important) s += "~<b;ct=green;fs:pt=\"+2\">Important~> ";
  s += a.second;
  s += "~(p)";
  return s;
}

// The sections in order, as many as make the agreement about nine thousand
// characters long in its own mark-up.
inline std::vector<AgreementSection> agreement_sections() {
  std::vector<AgreementSection> out;
  size_t length = std::string(kAgreementHeader).size();
  for (int section = 0; length < 9000; ++section) {
    AgreementSection a;
    a.title = std::to_string(section + 1) + ". " + kAgreementTitles[section % 6];
    a.first = kAgreementBodies[section % 3];
    a.link = section % 2 == 0;
    a.important = section == 3;
    a.second = kAgreementBodies[(section + 1) % 3];
    length += agreement_markup(a).size();
    out.push_back(a);
  }
  return out;
}

// A licence-agreement page in the rich-text mark-up.
inline std::string agreement_text() {
  std::string s = kAgreementHeader;
  for (const AgreementSection& a : agreement_sections()) s += agreement_markup(a);
  return s;
}

}  // namespace bench
