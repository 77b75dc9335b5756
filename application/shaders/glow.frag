#version 440
// A rounded rectangle in one colour, blurred by a Gaussian: the quick bar element's glow, drawn
// in one pass instead of blurring a rendered copy of the shape.

layout(location = 0) in vec2 qt_TexCoord0;
layout(location = 0) out vec4 fragColor;

layout(std140, binding = 0) uniform buf {
    mat4 qt_Matrix;
    float qt_Opacity;
    vec4 glowColor;
    vec2 itemSize;
    vec2 halfBox;
    float corner;
    float sigma;
    float strength;
};

// The share of a Gaussian of deviation sigma that lies beyond the signed distance d.
float beyond(float d)
{
    float x = d / (sigma * 1.41421356);
    float t = 1.0 / (1.0 + 0.3275911 * abs(x));
    float erfAbs = 1.0
        - ((((1.061405429 * t - 1.453152027) * t + 1.421413741) * t - 0.284496736) * t
           + 0.254829592) * t * exp(-x * x);
    return 0.5 - 0.5 * sign(x) * erfAbs;
}

void main()
{
    vec2 p = abs(qt_TexCoord0 * itemSize - 0.5 * itemSize);
    vec2 q = p - halfBox + vec2(corner);
    float d = length(max(q, 0.0)) + min(max(q.x, q.y), 0.0) - corner;
    float a = sigma > 0.0 ? beyond(d) : clamp(0.5 - d, 0.0, 1.0);
    a *= strength * qt_Opacity * glowColor.a;
    fragColor = vec4(glowColor.rgb * a, a);
}
