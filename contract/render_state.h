// cRenderState: the packed render-state word that modules change in place.
// Two 32-bit words of bit fields; bit 0 is the lowest bit of word 0. The bit positions
// are plug-in ABI: modules compiled on their own flip these bits through the pointer
// that igfxContext::state() hands out. Inline helpers only, no data beyond the words.
#pragma once
#include <cstdint>

struct cRenderState {
    uint32_t word[2] = {0, 0};

    // ---- bit positions (word 0 unless noted) ----
    static constexpr uint32_t depth_test_bit = 1u << 0;
    static constexpr uint32_t depth_write_bit = 1u << 1;
    static constexpr uint32_t depth_func_shift = 2;  // 3 bits
    static constexpr uint32_t fill_mode_shift = 5;   // 2 bits
    static constexpr uint32_t cull_side_bit = 1u << 7;   // 0 GL_FRONT, 1 GL_BACK
    static constexpr uint32_t front_face_bit = 1u << 8;  // 0 GL_CW, 1 GL_CCW
    static constexpr uint32_t multisample_bit = 1u << 9;
    static constexpr uint32_t alpha_test_bit = 1u << 10;
    static constexpr uint32_t face_culling_bit = 1u << 11;
    static constexpr uint32_t blending_bit = 1u << 12;
    static constexpr uint32_t src_color_shift = 16;  // 4 bits each
    static constexpr uint32_t dst_color_shift = 20;
    static constexpr uint32_t src_alpha_shift = 24;
    static constexpr uint32_t dst_alpha_shift = 28;
    static constexpr uint32_t mask_bits_word1 = 0xFu;  // bits 32-35; no GL state follows

    // ---- codes ----
    enum blend_factor : uint32_t {
        blend_zero = 0, blend_one = 1, blend_src_color = 2, blend_one_minus_src_color = 3,
        blend_src_alpha = 4, blend_one_minus_src_alpha = 5, blend_dst_alpha = 6,
        blend_one_minus_dst_alpha = 7,
    };
    enum depth_function : uint32_t {
        depth_less = 0, depth_lequal = 1, depth_greater = 2, depth_equal = 3, depth_gequal = 4,
    };
    enum fill_mode : uint32_t { fill_fill = 0, fill_point = 1, fill_line = 2 };

    // ---- field access ----
    constexpr void set_bit(uint32_t bit, bool on) { word[0] = on ? (word[0] | bit) : (word[0] & ~bit); }
    constexpr bool bit(uint32_t bit) const { return (word[0] & bit) != 0; }
    constexpr void set_field(uint32_t shift, uint32_t width_mask, uint32_t value) {
        word[0] = (word[0] & ~(width_mask << shift)) | ((value & width_mask) << shift);
    }
    constexpr uint32_t field(uint32_t shift, uint32_t width_mask) const { return (word[0] >> shift) & width_mask; }

    constexpr void set_depth_test(bool on) { set_bit(depth_test_bit, on); }
    constexpr void set_depth_write(bool on) { set_bit(depth_write_bit, on); }
    constexpr void set_depth_func(uint32_t code) { set_field(depth_func_shift, 0x7, code); }
    constexpr void set_fill_mode(uint32_t code) { set_field(fill_mode_shift, 0x3, code); }
    constexpr void set_cull_back(bool back) { set_bit(cull_side_bit, back); }
    constexpr void set_front_ccw(bool ccw) { set_bit(front_face_bit, ccw); }
    constexpr void set_multisample(bool on) { set_bit(multisample_bit, on); }
    constexpr void set_alpha_test(bool on) { set_bit(alpha_test_bit, on); }
    constexpr void set_face_culling(bool on) { set_bit(face_culling_bit, on); }
    constexpr void set_blending(bool on) { set_bit(blending_bit, on); }
    constexpr void set_blend_color(uint32_t src, uint32_t dst) {
        set_field(src_color_shift, 0xF, src);
        set_field(dst_color_shift, 0xF, dst);
    }
    constexpr void set_blend_alpha(uint32_t src, uint32_t dst) {
        set_field(src_alpha_shift, 0xF, src);
        set_field(dst_alpha_shift, 0xF, dst);
    }

    constexpr bool depth_test() const { return bit(depth_test_bit); }
    constexpr bool depth_write() const { return bit(depth_write_bit); }
    constexpr uint32_t depth_func() const { return field(depth_func_shift, 0x7); }
    constexpr uint32_t fill() const { return field(fill_mode_shift, 0x3); }
    constexpr bool face_culling() const { return bit(face_culling_bit); }
    constexpr bool blending() const { return bit(blending_bit); }
    constexpr uint32_t src_color() const { return field(src_color_shift, 0xF); }
    constexpr uint32_t dst_color() const { return field(dst_color_shift, 0xF); }
    constexpr uint32_t src_alpha() const { return field(src_alpha_shift, 0xF); }
    constexpr uint32_t dst_alpha() const { return field(dst_alpha_shift, 0xF); }

    friend constexpr bool operator==(const cRenderState& a, const cRenderState& b) {
        return a.word[0] == b.word[0] && a.word[1] == b.word[1];
    }
};

static_assert(sizeof(cRenderState) == 8, "cRenderState is one packed 64-bit word");
