// The installer window's page texts: the introduction, the licence
// agreement, the options page and the existing-installation dialog. Each is
// a mark-up document with the header and lines the window's pages use.
#include <string>

#include "form_install.h"

namespace {

const char* const kIntro =
    "~{text <ff=\"Arial\";alignx=LEFT;spacing=6;fs:pt=10>} "
    "~<b;fs:pt=\"+3\">Welcome to the Korvane Snaprill 1.31 Installer.~>~(p) "
    "This program installs ~<b>Korvane Snaprill~> for your user account. Korvane Snaprill captures "
    "pictures from your screen, arranges them into compositions and keeps them organised in its "
    "own folders.~(p) "
    "The installation takes a few moments. You will read and accept the license conditions, choose "
    "the destination folder and decide whether an icon is placed on your desktop. Nothing outside "
    "your own profile is changed.~(p) "
    "Before you continue, please close every other running copy of Korvane Snaprill. If one is "
    "running, the installer asks it to exit.~(p) "
    "News and help are waiting at ~<ct=RoyalBlue;href=\"https://korvane.example/snaprill\">"
    "korvane.example/snaprill~>.~(p) "
    "Click ~<b>Continue~> to proceed. ";

const char* const kAgreement =
    "~{text <ff=\"Arial\";alignx=CENTER;spacing=6;fs:pt=10>} "
    "~<b;fs:pt=\"+2\">End User Software License Agreement~>~) "
    "~<ct=RoyalBlue>Korvane Snaprill 1.31~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "Please read this End User Software License Agreement (the \"Agreement\") carefully before you "
    "install or use Korvane Snaprill (the \"Software\"). By installing, copying or otherwise using the "
    "Software you agree to be bound by the terms of this Agreement. If you do not agree to these terms, "
    "do not install and do not use the Software.~(p) "
    "~{text <alignx=CENTER>}~<b>1. Grant of License~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "Korvane grants you a personal, non-exclusive and non-transferable license to install and use one "
    "copy of the Software on each computer you own or control, for your own purposes. You may make one "
    "copy of the Software for backup only. All rights not expressly granted in this Agreement are "
    "reserved by Korvane.~(p) "
    "~{text <alignx=CENTER>}~<b>2. Restrictions~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "You may not rent, lease, lend, sell, sublicense or otherwise distribute the Software. You may not "
    "decompile, disassemble or reverse engineer the Software, except to the extent that applicable law "
    "expressly permits it despite this limitation. You may not remove or alter any notice of ownership "
    "in the Software or in its documentation.~(p) "
    "~{text <alignx=CENTER>}~<b>3. Ownership~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "The Software is licensed, not sold. Korvane and its suppliers keep all title, copyright and other "
    "rights in the Software, in its pictures, texts and documentation, and in every copy of it. The "
    "pictures you capture and the compositions you make with the Software are yours.~(p) "
    "~{text <alignx=CENTER>}~<b>4. Updates~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "Korvane may offer updates of the Software. An update replaces the files of the version you "
    "installed and is covered by this Agreement unless it comes with terms of its own. Your pictures, "
    "compositions and settings are preserved by an update.~(p) "
    "~{text <alignx=CENTER>}~<b>5. No Warranty~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "The Software is provided \"as is\", without warranty of any kind, express or implied, including "
    "but not limited to the warranties of merchantability, fitness for a particular purpose and "
    "non-infringement. The entire risk as to the quality and performance of the Software is with you. "
    "Should the Software prove defective, you assume the cost of all necessary servicing, repair or "
    "correction.~(p) "
    "~{text <alignx=CENTER>}~<b>6. Limitation of Liability~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "In no event shall Korvane or its suppliers be liable for any damages whatsoever (including, "
    "without limitation, damages for loss of profits, business interruption, loss of information or "
    "any other loss) arising out of the use of or inability to use the Software, even if Korvane has "
    "been advised of the possibility of such damages. Where the law does not allow this exclusion, "
    "the liability of Korvane is limited to the amount you paid for the Software.~(p) "
    "~{text <alignx=CENTER>}~<b>7. Termination~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "This Agreement is effective until terminated. It terminates at once, without notice from "
    "Korvane, if you fail to comply with any of its terms. Upon termination you must stop using the "
    "Software and destroy every copy of it in your possession. Sections 3, 5 and 6 survive the "
    "termination of this Agreement.~(p) "
    "~{text <alignx=CENTER>}~<b>8. Privacy~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "The Software does not send your pictures, compositions or any personal information anywhere. "
    "It works with the files on your own computer only. Links in the Software and in this Agreement "
    "open pages of ~<ct=RoyalBlue;href=\"https://korvane.example\">korvane.example~> in your web "
    "browser when you click them.~(p) "
    "~{text <alignx=CENTER>}~<b>9. General~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "This Agreement is the entire agreement between you and Korvane about the Software and supersedes "
    "any earlier understanding. If a provision of this Agreement is held invalid, the remainder stays "
    "in full force. A failure to enforce a right under this Agreement does not waive it.~(p) "
    "~{text <alignx=CENTER>}~<b;ct=green;fs:pt=\"+2\">Thank You for choosing Korvane Snaprill !~>~(p) "
    "~{text <alignx=JUSTIFY>}"
    "Questions about this Agreement may be sent through "
    "~<ct=RoyalBlue;href=\"https://korvane.example/contact\">korvane.example/contact~>.~(p) ";

}  // namespace

const std::string& install_intro_text() {
  static const std::string text = kIntro;
  return text;
}

const std::string& install_agreement_text() {
  static const std::string text = kAgreement;
  return text;
}

std::string install_options_text(int64_t requiredSpace) {
  return "~{text <ff=\"Arial\";fs:pt=10;alignx=LEFT;spacing=5>} ~<b;fs:pt=\"+1\">Destination Installation "
         "Folder~>~(p)  Application being installed requires ~<ct=dodgerblue;b>" +
         format_byte_size(requiredSpace) + "~>" +
         " of free disk space on the destination installation drive.~(p) "
         "This application is being installed for the ~<b>current user~> profile. Installation ~<b>DOESN'T "
         "requires Administrator Rights~>. If you wish to install application for another user, please "
         "log in to desired account and re-run this installation.~(p) "
         "If there is enough space in suggested installation folder, we don't recommend changing it "
         "because Windows may restrict reading or writing permissions in different location. "
         "You may change destination installation path (eg. if not enough space) but you must be sure, "
         "Windows will allow for application being installed to read and write its data there. ";
}

std::string install_existing_text() {
  return "~{text <ff=\"Arial\";alignx=LEFT;spacing=6;fs:pt=10>} "
         "~<b;fs:pt=\"+3\">Welcome to the Korvane Snaprill 1.31 Installer.~>~(p) "
         "Installer has detected, above mentioned application is already installed on your system.~)"
         "You may either ~<b;ct=darkgreen>Update~> the installed version or start a "
         "~<b;ct=darkgoldenrod>New Installation~>.~(p) "
         "~<ct=darkgreen>By performing ~<b>Update~> all existing data and settings will be preserved. Update "
         "mode may also be used to Recover existing version after a major hardware update or after a third "
         "party attack (eg. virus, crack,...).~>~(p) "
         "~<ct=darkgoldenrod>By starting a ~<b>New Installation~>, a new clean version will be installed. If "
         "installing over to an existing version, some settings may not be preserved.~>~(p) "
         "~<fs:pt=\"+2\">Please, choose your installation mode by pushing the appropriate button:~> ";
}
