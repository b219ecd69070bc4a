// A licence-agreement page of about nine thousand characters in the shape of
// the installer's agreement: a centred header, a bold title two points
// larger and a line break, then sections whose titles are centred and bold
// and whose bodies are justified, with a few coloured runs and hyperlinks.
#pragma once

#include <string>

namespace bench {

inline std::string agreement_text() {
  static const char* const kBodies[] = {
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
  static const char* const kTitles[] = {"Grant of License", "Description of Other Rights and Limitations",
                                        "Copyright", "Limited Warranty", "Termination", "Miscellaneous"};
  std::string s =
      "~{text <ff=\"Arial\";alignx=CENTER;spacing=6;fs:pt=10>} ~<b;fs:pt=\"+2\">End User Software License "
      "Agreement~>~)";
  int section = 0;
  while (s.size() < 9000) {
    const int k = section % 6;
    s += "~{text <alignx=CENTER>}~<b>";
    s += std::to_string(section + 1) + ". " + kTitles[k];
    s += "~>~(p)~{text <alignx=JUSTIFY>}";
    s += kBodies[section % 3];
    if (section % 2 == 0) s += "Read the ~<ct=RoyalBlue;href=\"https://example.org/licence\">full licence~> online. ";
    if (section == 3) s += "~<b;ct=green;fs:pt=\"+2\">Important~> ";
    s += kBodies[(section + 1) % 3];
    s += "~(p)";
    ++section;
  }
  return s;
}

}  // namespace bench
