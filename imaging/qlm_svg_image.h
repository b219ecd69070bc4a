// The SVG drawing (cImageSVG) as its users hold it: the class and what
// its members name, without AGG's or expat's headers. The model's records
// and the loader are in qlm_svg.h, which a user that reads the paths or
// attributes includes (and with it AGG).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "qlm_base_object.h"
#include "qlm_base_util.h"

class cFlow;
class cSVGAttributes;
class cSVGGradients;
struct rSVGPathAttr;

// AGG's path storage, declared without its header (qlm_svg.h includes the
// header, so a declaration that differed from AGG's would not compile).
namespace agg {
template <class T, unsigned BlockShift, unsigned BlockPool>
class vertex_block_storage;
template <class VertexContainer>
class path_base;
using path_storage = path_base<vertex_block_storage<double, 8, 256>>;
}  // namespace agg

// ---------------------------------------------------------------------------
// cSVG: the abstract drawing interface.

// Progress: the image and the share of the document parsed so far, 0 to 100;
// false stops the load.
class cSVG;
using tSVGProgress = bool (*)(cSVG* image, double percent);

class cSVG : public cException {
 public:
  cSVG() = default;
  // Reserved; no class implements it.
  virtual void Reserved() = 0;
  virtual bool Open(cFlow* flow, tSVGProgress progress) = 0;
  virtual bool IsOpened() const = 0;
  virtual agg::path_storage* PathStorage() = 0;
  virtual cSVGAttributes* Attributes() = 0;
  virtual void Bounds(rRectD& bounds) const = 0;

 protected:
  bool mOpened = false;
};

// ---------------------------------------------------------------------------
// cImageSVG: the model filled from an SVG document.

class cImageSVG : public cSVG {
 public:
  cImageSVG();
  ~cImageSVG() override;
  bool Identify(uint32_t id) const override;

  // Reads the document from the flow's current offset to its end in blocks
  // of cnSVGBlockSize bytes and fills the model; true when it is opened. A second call
  // on an opened image answers true and reads nothing. A failure is logged;
  // what was built before it stays in the model and the image stays unopened.
  bool Open(cFlow* flow, tSVGProgress progress) override;
  bool IsOpened() const override { return mOpened; }
  agg::path_storage* PathStorage() override { return mPathStorage.get(); }
  cSVGAttributes* Attributes() override { return mAttributes.get(); }
  void Bounds(rRectD& bounds) const override { bounds = mBounds; }

  const std::string& Title() const { return mTitle; }
  // The size against which userSpaceOnUse gradients read their
  // percentages: the root element's viewBox, else its width and height
  // (plain numbers or "px"), else, for each side, the size of the bounds.
  void Viewport(double& width, double& height) const {
    width = mViewportWidth;
    height = mViewportHeight;
  }
  // Nil until the first gradient element was met.
  cSVGGradients* Gradients() const { return mGradients.get(); }

  // Appends a copy of the template with the given index; nil for a nil
  // template or when the record cannot be had.
  rSVGPathAttr* new_attributes(const rSVGPathAttr* templ, uint32_t index);
  // The last record of the attribute list; nil when it is empty.
  rSVGPathAttr* top_attributes() const;

 private:
  friend class cSVGParser;
  void Reserved() override {}
  void ComputeBounds();

  std::string mTitle;
  std::unique_ptr<cSVGAttributes> mAttributes;
  // The record new_attributes appended last and the list's count then, so
  // top_attributes does not walk the list's records on every path.
  rSVGPathAttr* mLastAttr = nullptr;
  uint32_t mLastAttrCount = 0;
  std::unique_ptr<cSVGGradients> mGradients;
  std::unique_ptr<agg::path_storage> mPathStorage;  // never nil
  rRectD mBounds;
  double mViewportWidth = 0;
  double mViewportHeight = 0;
};
