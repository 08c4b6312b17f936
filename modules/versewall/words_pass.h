// Drawing helper shared by the words and circle passes: one textured quad on the text canvas
// through the graphics context's client-memory draw. Depends on the contract and the maths;
// never sets a program or state itself: callers make "text" current first.
#pragma once
#include "igfx_context.h"
#include "maths.h"

namespace versewall {

// A size.x by size.y quad around centre (size.z and size.w unused), counter-clockwise, with
// texture coordinates 0 to 1 and w = centre.w + 0.5 at every corner.
void draw_quad(igfxContext& ctx, const vec4& centre, const vec4& size);

}  // namespace versewall
