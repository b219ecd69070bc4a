#include "kvn_button_make.h"

TKVNButton* make_text_button(ui::TComponent* owner, ui::TWinControl* parent, const std::string& caption,
                             TButtonType type, double fontSize, TColorIndex color) {
  auto* b = new TKVNButton(owner);
  b->SetButtonText(caption);
  b->SetButtonType(type);
  b->SetButtonShadow(false);
  b->SetClipText(true);
  b->SetFontFace("Verdana");
  b->SetFontSize(fontSize);
  b->SetFontStyle(TEXT_BOLD);
  b->SetColorIndex(color);
  b->SetAnimate(true);
  b->SetParent(parent);
  return b;
}
