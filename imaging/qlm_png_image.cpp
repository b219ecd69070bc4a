// The PNG image: reading a stream chunk by chunk, writing a bitmap, cloning.
#include <algorithm>
#include <cstring>
#include <new>

#include "qlm_base_flow.h"
#include "qlm_png.h"
#include "qlm_png_walker.h"

namespace {

void progress_or_stop(cImagePNG& png, double percent, const char* text) {
  progress_report(png.mProgress, &png, percent, text);
}

rPNG_ChunkHeader header_of(const char* type, uint32_t size = 0) {
  rPNG_ChunkHeader h;
  h.dt_size = size;
  std::memcpy(h.ch_type, type, 4);
  return h;
}

}  // namespace

bool cImagePNG::CheckType(const rPNG_ChunkHeader& header, rPNG_ChunkFlags& flags) {
  for (char c : header.ch_type)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  flags.ancillary = uint8_t(header.ch_type[0] & 32);
  flags.private_use = uint8_t(header.ch_type[1] & 32);
  flags.reserved = uint8_t(header.ch_type[2] & 32);
  flags.safe_to_copy = uint8_t(header.ch_type[3] & 32);
  return true;
}

void cImagePNG::ReadImageData(cFlow* flow, rPNG_ChunkHeader& header, const rPNG_ChunkFlags& flags, uint8_t* buffer,
                              int32_t buffer_size) {
  // The header comes first: everything below reads it.
  const cPNG_IHDR* ihdr = mChunks->IHDR;
  if (ihdr == nullptr) raise_png_error(errPNGIHDRNotFound, "{mChunks.IHDR=NIL}");
  // The fallbacks stand in for a missing PLTE or tRNS.
  const std::pair<cPNG_Chunk*, const char*> fallbacks[] = {{mFallbackPLTE, "PLTE"}, {mFallbackTRNS, "tRNS"}};
  for (const auto& [fallback, type] : fallbacks) {
    const bool present = std::string_view(type) == "PLTE" ? mChunks->PLTE != nullptr : mChunks->tRNS != nullptr;
    if (fallback == nullptr || present) continue;
    rPNG_Entry* e = mChunks->AddChunk(header_of(type), this, flags);
    if (e == nullptr) raise_png_error(errPNGInvalidChunkType, "{mChunks.AddChunk}");
    if (!e->cobj->LoadChunk(flow, nullptr, 0)) raise_png_error(errPNGLoadChunkFailed, "{entry.cobj.LoadChunk}");
  }
  auto idat = std::make_unique<cPNG_IDAT>(this, header);
  idat->alpha = ihdr->color_type == cnCM_GreyAlpha || ihdr->color_type == cnCM_RGBA ||
                (ihdr->color_type == cnCM_Palette && mChunks->tRNS != nullptr && mChunks->tRNS->alpha_count > 0);
  const int32_t kind =
      idat->alpha ? (platform_pixel_format() == px24RGB ? cnBitmap32RGBA : cnBitmap32BGRA) : cnBitmapNative;
  if (ihdr->width == 0 || ihdr->height == 0) raise_png_error(errPNGInvalidImageDims, "{dx or dy = 0}");
  image_check_read_limits(ihdr->width, ihdr->height, kind);
  // The bitmap goes through Create, whose 64-bit size check refuses what
  // cannot be held; only a created bitmap becomes the image's.
  auto bitmap = std::make_unique<cBitmap>(ihdr->width, ihdr->height, kind);
  if (mChunks->tRNS != nullptr) bitmap->SetTransparentColor(mChunks->tRNS->Colour());
  if (mChunks->bKGD != nullptr && mChunks->bKGD->Colour() != 0) bitmap->SetBackground(mChunks->bKGD->Colour());
  if (!bitmap->Create()) raise_base_error(errQLMCall, "{mCommonImageSpace.Create}");
  const uint32_t fill = bitmap->TransparentColor() != rgb_none ? bitmap->TransparentColor() : bitmap->Background();
  if (fill != 0 && fill != 0xFF000000u && !bitmap->Clear(fill, -1)) raise_base_error(errQLMCall, "{Bitmap.Clear}");
  mWidth = mSpaceWidth = uint32_t(ihdr->width);
  mHeight = mSpaceHeight = uint32_t(ihdr->height);
  mCommonImageSpace = bitmap.release();
  mCurrentFrame = 1;
  // A grey or RGB key is compared with the raw samples at full depth while
  // the rows are decoded: after the gamma table, or cut to 8 bits, other
  // levels could match it too.
  mKeyBits.clear();
  const cPNG_tRNS* trns = mChunks->tRNS;
  if (trns != nullptr && trns->Colour() != 0 && (ihdr->color_type == cnCM_Grey || ihdr->color_type == cnCM_RGB)) {
    try {
      mKeyBits.assign(size_t((uint64_t(ihdr->width) * ihdr->height + 7) / 8), 0);
    } catch (const std::bad_alloc&) {
      raise_base_error(errNEnoughMem, "{mem_alloc}");
    }
    // Grey keys use key[0] only.
    const uint8_t* samples[3] = {ihdr->color_type == cnCM_RGB ? trns->red : trns->grey_sample, trns->green, trns->blue};
    for (int i = 0; i < 3; ++i) idat->key[i] = uint16_t(samples[i][0] << 8 | samples[i][1]);
    idat->key_bits = mKeyBits.data();
  }
  if (!idat->LoadChunk(flow, buffer, buffer_size, &header)) raise_png_error(errPNGLoadChunkFailed, "{IDAT.LoadChunk}");
}

bool cImagePNG::Open(cFlow* flow) {
  return log_and_fail(this, false, [&] {
    if (IsOpened()) raise_condition_error(errInvariant, "{IsOpened}");
    if (flow == nullptr) raise_condition_error(errPreCondition, "{flow=NIL}");
    if (!flow->IsOpened()) raise_condition_error(errPreCondition, "{not flow.IsOpened}");
    if (mChunks != nullptr)
      mChunks->ClearChunks();
    else
      mChunks = new cPNG_Entry();
    mTextBytes = 0;
    mKeyBits.clear();
    static constexpr const char* kDataTypes[] = {"IDAT", nullptr};
    cPNG_ChunkWalker walker(flow, kDataTypes);
    if (!mSkipReadSignature) walker.ReadSignature(cnPNG_Signature, "{pngh<>cnPNG_Signature}");
    progress_or_stop(*this, 0, "{cImagePNG.Open}");
    bool data_read = false;
    for (;;) {
      const ePNG_Step step = walker.Next();
      rPNG_ChunkHeader h = walker.Header();
      if (h.Is("IHDR") && mChunks->Count() > 0) raise_png_error(errPNGIHDRNotFirst, "{mChunks.Count>0}");
      if (step != ePNG_Step::Data) {
        rPNG_Entry* e = mChunks->AddChunk(h, this, walker.Flags());
        if (e == nullptr) raise_png_error(errPNGInvalidChunkType, "{entry=NIL}");
        walker.Load(e);
      } else if (data_read) {
        // A warning only: the chunk is skipped and reading goes on.
        try {
          raise_png_error(errPNGNonConsecutiveIDAT, "[warning]");
        } catch (...) {
          exception_log_append(std::current_exception(), this);
        }
        walker.Skip();
      } else {
        walker.EnsureBuffer();
        ReadImageData(flow, h, walker.Flags(), walker.Buffer(), int32_t(walker.BufferSize()));
        data_read = true;
      }
      if (step == ePNG_Step::End) {
        // Only a key read before the image data applies (the standard
        // places tRNS there); its pixels are the ones marked while decoding.
        if (!mKeyBits.empty() && mCommonImageSpace != nullptr) {
          cBitmap* b = mCommonImageSpace;
          b->SetTransparentColor(mChunks->tRNS->Colour());
          if (!b->ConvertTransparencyToAlpha(0, 0, 0))
            raise_base_error(errQLMCall, "{Bitmap.ConvertTransparencyToAlpha}");
          rChannelOrder o;
          if (!bitmap_has_order(b, o)) raise_condition_error(errInvariant, "{Bitmap.Order=NIL}");
          const uint64_t w = uint64_t(b->Width());
          for (int64_t y = 0; y < b->Height(); ++y) {
            uint8_t* p = b->Data() + y * b->Stride() + o.alpha;
            for (uint64_t x = 0, at = uint64_t(y) * w; x < w; ++x, ++at, p += 4)
              *p = (mKeyBits[at >> 3] >> (at & 7) & 1) != 0 ? 0 : 255;
          }
          mKeyBits.clear();
          mKeyBits.shrink_to_fit();
        }
        progress_or_stop(*this, 100, "{cImagePNG.Open}");
        if (!mKeepChunks) {
          delete mChunks;
          mChunks = nullptr;
        }
        return true;
      }
    }
  });
}

bool cImagePNG::SaveFrom(cFlow* flow, cImage* from) {
  return log_and_fail(this, false, [&] {
    if (flow == nullptr) raise_condition_error(errPreCondition, "{flow=NIL}");
    if (!flow->IsOpened()) raise_condition_error(errPreCondition, "{not flow.IsOpened}");
    if (from == nullptr) raise_condition_error(errPreCondition, "{from=NIL}");
    if (!from->IsOpened()) raise_condition_error(errPreCondition, "{not from.IsOpened}");
    cBitmap* bitmap = from->Bitmap(0);
    if (bitmap == nullptr) raise_condition_error(errPreCondition, "{from.Bitmap=NIL}");
    if (bitmap->Order() == nullptr) raise_condition_error(errPreCondition, "{from.Bitmap._Order=NIL}");
    mSaveBitmap = bitmap;
    if (mChunks != nullptr)
      mChunks->ClearChunks();
    else
      mChunks = new cPNG_Entry();
    auto add = [&](const char* type, cPNG_Chunk* object = nullptr) {
      rPNG_ChunkHeader h = header_of(type);
      rPNG_ChunkFlags flags;
      CheckType(h, flags);
      if (mChunks->AddChunk(h, this, flags, type, object) == nullptr)
        raise_png_error(errPNGInvalidChunkType, "{mChunks.AddChunk}");
    };
    add("IHDR");
    const uint8_t code = bitmap->PixelFormat();
    if (bitmap->TransparentColor() != rgb_none && (code == px24RGB || code == px24BGR)) add("tRNS");
    add("tIME");
    add("IDAT", new cPNG_IDAT(this, header_of("IDAT")));
    progress_or_stop(*this, 0, "{cImagePNG.SaveFrom}");
    auto write = [&](const void* bytes, int32_t n) {
      if (!flow->Write(bytes, n) || flow->LastIO() != uint32_t(n)) raise_png_error(errPNGFlowWrite, "{flow.Write}");
    };
    if (!mSkipWriteSignature) write(cnPNG_Signature, 8);
    for (rPNG_Entry* e = mChunks->First(); e != nullptr; e = e->next)
      if (e->cobj != nullptr && !e->cobj->SaveChunk(flow))
        raise_png_error(errPNGSaveChunkFailed, "{entry.cobj.SaveChunk}");
    delete mChunks;
    mChunks = nullptr;
    static constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    write(kEnd, 12);
    progress_or_stop(*this, 100, "{cImagePNG.SaveFrom}");
    return true;
  });
}

cImagePNG* cImagePNG::CloneTarget(cImage* into, std::unique_ptr<cImagePNG>& made) {
  return CloneTargetOf<cImagePNG>(into, made, "{into is not cImagePNG}");
}

cImage* cImagePNG::Clone(bool deep, cImage* into) {
  return log_and_fail(this, static_cast<cImage*>(nullptr), [&] {
    std::unique_ptr<cImagePNG> made;
    cImagePNG* t = CloneTarget(into, made);
    if (mChunks != nullptr) {
      cPNG_Entry* list = mChunks->CloneList();
      if (list == nullptr) raise_base_error(errNEnoughMem, "{mChunks.Clone}");
      delete t->mChunks;
      t->mChunks = list;
      for (rPNG_Entry* e = list->First(); e != nullptr; e = e->next)
        if (e->cobj != nullptr) e->cobj->SetOwner(t);
      t->AdoptClonedChunks(list);
      if (mChunks->gAMA != nullptr && list->gAMA != nullptr && list->IHDR != nullptr && mChunks->IHDR != nullptr &&
          mChunks->gAMA->table == mChunks->IHDR->gamma)
        list->gAMA->table = list->IHDR->gamma;
    }
    t->mSkipReadSignature = mSkipReadSignature;
    t->mKeepChunks = mKeepChunks;
    t->mBlendOnBackground = mBlendOnBackground;
    t->mSkipWriteSignature = mSkipWriteSignature;
    t->mNoFilter = mNoFilter;
    t->mDeflateLevel = mDeflateLevel;
    t->mBackgroundRed = mBackgroundRed;
    t->mBackgroundGreen = mBackgroundGreen;
    t->mBackgroundBlue = mBackgroundBlue;
    t->mClock = mClock;
    CopyCloneSettings(t);
    if (mChunks != nullptr && t->mChunks != nullptr) {
      if (mFallbackPLTE != nullptr && mFallbackPLTE == mChunks->PLTE) t->mFallbackPLTE = t->mChunks->PLTE;
      if (mFallbackTRNS != nullptr && mFallbackTRNS == mChunks->tRNS) t->mFallbackTRNS = t->mChunks->tRNS;
    }
    if (cImage::Clone(deep, t) == nullptr) raise_base_error(errNEnoughMem, "{inherited Clone}");
    made.release();
    return static_cast<cImage*>(t);
  });
}
