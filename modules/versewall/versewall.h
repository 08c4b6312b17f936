// cVersewall: the sing-along scene object that the host creates through CreateScene and
// drives through the render-module contract, running one frame's passes in their fixed order.
// Depends on the contract only; never frees the textures and model it holds (the host's).
#pragma once
#include "igfx_context.h"
#include "module_input.h"
#include "render_module_base.h"
#include "scene_math.h"

namespace versewall {

class cVersewall final : public cRenderModuleBase {
public:
    void init(iModuleInput* input) override;
    void render(iModuleInput* input) override;
    void reserved() override {}
    const char* name() override;

    // Owned by the host's texture and model managers; never freed here.
    cTexture* la_texture = nullptr;       // the usual word picture
    cTexture* umptchi_texture = nullptr;  // the alternative word picture
    cTexture* circle_texture = nullptr;   // the circle hopping from word to word
    iModel* duck_model = nullptr;         // null when the host refused the model

private:
    // Lyric words into the bound target; ends with the circle. Leaves depth testing off and
    // additive blending on for the rest of the frame, on purpose (nothing is pushed).
    void words_pass(iModuleInput* input);
    void circle_pass(iModuleInput* input, const cWordRow& layout, int count);
    // The spinning duck over everything, depth-tested against the window's depth buffer.
    void duck_pass(iModuleInput* input);
};

}  // namespace versewall
