// The paragraph assembly and the mixed-style paragraph box.
#include "qlm_complex_text.h"

void cComplexText::AssembleParagraph(std::unique_ptr<cTextBits>& bits, cHyperLinks*, cLayoutEntries*) {
  bits.reset();
}
