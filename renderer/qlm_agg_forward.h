// The AGG types that the renderer's public headers name (in pointers,
// references and return types only), declared without including AGG, so
// that their includers compile without AGG's headers. qlm_agg_extensions.h
// checks each name against AGG's own definition.
#pragma once

namespace agg {
struct linear;
template <class Colorspace>
struct rgba8T;
using rgba8 = rgba8T<linear>;
template <class T>
class row_accessor;
using rendering_buffer = row_accessor<unsigned char>;
template <class T, unsigned BlockShift, unsigned BlockPool>
class vertex_block_storage;
template <class VertexContainer>
class path_base;
using path_storage = path_base<vertex_block_storage<double, 8, 256>>;
struct trans_affine;
template <class Colorspace>
struct gray8T;
using gray8 = gray8T<linear>;
template <class ColorT>
struct blender_gray;
template <class Blender, class RenBuf, unsigned Step, unsigned Offset>
class pixfmt_alpha_blend_gray;
using pixfmt_gray8 = pixfmt_alpha_blend_gray<blender_gray<gray8>, rendering_buffer, 1, 0>;
}  // namespace agg

namespace qlm_agg {
class any_rgba_target;
}  // namespace qlm_agg
