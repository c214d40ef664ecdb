#include "platform/gl/gl_shaders.h"

#include <vector>

#include "device/graphics_device.h"
#include "platform/gl/fixed_function.h"

namespace {

// The state constants the shaders compare against, taken from the interface so the two cannot
// drift apart.
std::string constantPrelude()
{
    std::string s = glslVersionLine;
    auto define = [&s](const char* name, uint32_t value) { s += "#define " + std::string(name) + " " + std::to_string(value) + "\n"; };
    define("TOP_DISABLE", D3DTOP_DISABLE);
    define("TOP_SELECTARG1", D3DTOP_SELECTARG1);
    define("TOP_SELECTARG2", D3DTOP_SELECTARG2);
    define("TOP_MODULATE", D3DTOP_MODULATE);
    define("TOP_ADD", D3DTOP_ADD);
    define("TOP_ADDSIGNED", D3DTOP_ADDSIGNED);
    define("TA_DIFFUSE", D3DTA_DIFFUSE);
    define("TA_CURRENT", D3DTA_CURRENT);
    define("TA_TEXTURE", D3DTA_TEXTURE);
    define("CMP_NEVER", D3DCMP_NEVER);
    define("CMP_LESS", D3DCMP_LESS);
    define("CMP_EQUAL", D3DCMP_EQUAL);
    define("CMP_LESSEQUAL", D3DCMP_LESSEQUAL);
    define("CMP_GREATER", D3DCMP_GREATER);
    define("CMP_NOTEQUAL", D3DCMP_NOTEQUAL);
    define("CMP_GREATEREQUAL", D3DCMP_GREATEREQUAL);
    return s;
}

// Mirrors ShaderState member for member, cut in two at drawStateBytes.
const char* const stateBlock = R"(
layout(std140) uniform DrawState {
    mat4 world;
};
layout(std140) uniform FrameState {
    mat4 view;
    mat4 projection;
    vec4 viewport;
    ivec4 vertexMode;   // pretransformed, lighting, vertex has diffuse, colour from vertex
    ivec4 pixelMode;    // specular enabled, vertex has specular, alpha test, alpha function
    vec4 alphaReference;
    vec4 ambient;
    vec4 materialDiffuse;
    vec4 materialAmbient;
    vec4 materialSpecular;
    vec4 materialEmissive;
    vec4 materialPower;
    ivec4 lightCount;
    vec4 lightDirection[8];
    vec4 lightDiffuse[8];
    vec4 lightAmbient[8];
    vec4 lightSpecular[8];
    ivec4 stageColor[2];
    ivec4 stageAlpha[2];
};
)";

const char* const vertexSource = R"(
layout(location = 0) in vec4 inPosition;
layout(location = 1) in vec3 inNormal;
#ifdef GLES_DEVICE
// ES reads the colours' bytes in memory order, B, G, R, A.
layout(location = 2) in vec4 inDiffuseBgra;
layout(location = 3) in vec4 inSpecularBgra;
#define inDiffuse (inDiffuseBgra.bgra)
#define inSpecular (inSpecularBgra.bgra)
#else
layout(location = 2) in vec4 inDiffuse;
layout(location = 3) in vec4 inSpecular;
#endif
layout(location = 4) in vec2 inTexCoord0;
layout(location = 5) in vec2 inTexCoord1;

INTERPOLATION out vec4 vDiffuse;
INTERPOLATION out vec4 vSpecular;
INTERPOLATION out vec2 vTexCoord0;
INTERPOLATION out vec2 vTexCoord1;

void main()
{
#ifdef GLES_DEVICE
    gl_PointSize = 1.0;
#endif
    vTexCoord0 = inTexCoord0;
    vTexCoord1 = inTexCoord1;
    vSpecular = pixelMode.y != 0 ? inSpecular : vec4(0.0);
    vDiffuse = inDiffuse;

    if (vertexMode.x != 0) {
        // Screen pixels with centres on integer coordinates, y down; z already in [0, 1].
        float w = inPosition.w != 0.0 ? 1.0 / inPosition.w : 1.0;
        vec2 ndc = vec2((inPosition.x + 0.5) / viewport.x * 2.0 - 1.0,
                        1.0 - (inPosition.y + 0.5) / viewport.y * 2.0);
        gl_Position = vec4(ndc, inPosition.z * 2.0 - 1.0, 1.0) * w;
        return;
    }

    // The stored matrices arrive transposed, so the row-vector product p * W * V * P becomes
    // P * (V * (W * p)) here.
    vec4 clip = projection * (view * (world * vec4(inPosition.xyz, 1.0)));
    // Clip z runs over [0, w] in the interface, [-w, w] in GL. The interface puts pixel centres
    // on whole screen coordinates, GL on half ones: shift by half a pixel right and down, as
    // for screen vertices, so geometry covers the same pixels.
    vec2 halfPixel = vec2(1.0 / viewport.x, -1.0 / viewport.y) * clip.w;
    gl_Position = vec4(clip.xy + halfPixel, 2.0 * clip.z - clip.w, clip.w);
    if (vertexMode.y == 0) return;

    // Normals are not renormalised, as with the interface's default.
    vec3 normal = mat3(world) * inNormal;
    vec4 diffuseSource = (vertexMode.z != 0 && vertexMode.w != 0) ? inDiffuse : materialDiffuse;
    vec3 color = materialEmissive.rgb + ambient.rgb * materialAmbient.rgb;
    vec3 specular = vec3(0.0);
    for (int i = 0; i < lightCount.x; ++i) {
        vec3 toLight = -lightDirection[i].xyz;
        color += lightAmbient[i].rgb * materialAmbient.rgb;
        float nDotL = max(dot(normal, toLight), 0.0);
        color += lightDiffuse[i].rgb * diffuseSource.rgb * nDotL;
        if (pixelMode.x != 0 && nDotL > 0.0) {
            // Blinn with a distant viewer looking along +z in view space.
            vec3 halfway = mat3(view) * toLight + vec3(0.0, 0.0, -1.0);
            if (dot(halfway, halfway) > 0.0) {
                float nDotH = max(dot(normalize(mat3(view) * normal), normalize(halfway)), 0.0);
                float power = materialPower.x > 0.0 ? pow(nDotH, materialPower.x) : 1.0;
                specular += lightSpecular[i].rgb * materialSpecular.rgb * power;
            }
        }
    }
    vDiffuse = clamp(vec4(color, diffuseSource.a), 0.0, 1.0);
    vSpecular = vec4(clamp(specular, 0.0, 1.0), 0.0);
}
)";

const char* const fragmentSource = R"(
uniform sampler2D stageTexture0;
uniform sampler2D stageTexture1;

INTERPOLATION in vec4 vDiffuse;
INTERPOLATION in vec4 vSpecular;
INTERPOLATION in vec2 vTexCoord0;
INTERPOLATION in vec2 vTexCoord1;

out vec4 fragColor;

vec4 argument(int selector, vec4 current, vec4 texel)
{
    int which = selector & 7;  // modifiers are not emulated
    if (which == TA_TEXTURE) return texel;
    if (which == TA_CURRENT) return current;
    if (which == TA_DIFFUSE) return vDiffuse;
    return vec4(1.0);
}

vec4 combine(int op, vec4 a, vec4 b)
{
    if (op == TOP_SELECTARG2) return b;
    if (op == TOP_MODULATE) return a * b;
    if (op == TOP_ADD) return clamp(a + b, 0.0, 1.0);
    if (op == TOP_ADDSIGNED) return clamp(a + b - 0.5, 0.0, 1.0);
    return a;
}

bool alphaPasses(float alpha)
{
    float a = floor(clamp(alpha, 0.0, 1.0) * 255.0 + 0.5);
    float reference = alphaReference.x;
    int f = pixelMode.w;
    if (f == CMP_NEVER) return false;
    if (f == CMP_LESS) return a < reference;
    if (f == CMP_EQUAL) return a == reference;
    if (f == CMP_LESSEQUAL) return a <= reference;
    if (f == CMP_GREATER) return a > reference;
    if (f == CMP_NOTEQUAL) return a != reference;
    if (f == CMP_GREATEREQUAL) return a >= reference;
    return true;
}

void main()
{
    // Sampled outside the branches so implicit derivatives stay defined. A stage without a
    // texture reads opaque white, but only where it does not read its texture at all: the state
    // gathering turns a stage that does into a pass-through.
    vec4 sampled0 = texture(stageTexture0, vTexCoord0);
    vec4 sampled1 = texture(stageTexture1, vTexCoord1);
    vec4 texel[2];
    texel[0] = stageColor[0].w != 0 ? sampled0 : vec4(1.0);
    texel[1] = stageColor[1].w != 0 ? sampled1 : vec4(1.0);

    vec4 current = vDiffuse;
    for (int s = 0; s < 2; ++s) {
        if (stageColor[s].x == TOP_DISABLE) break;
        vec4 c = combine(stageColor[s].x, argument(stageColor[s].y, current, texel[s]),
                         argument(stageColor[s].z, current, texel[s]));
        float a = current.a;
        if (stageAlpha[s].x != TOP_DISABLE)
            a = combine(stageAlpha[s].x, argument(stageAlpha[s].y, current, texel[s]),
                        argument(stageAlpha[s].z, current, texel[s])).a;
        current = vec4(c.rgb, a);
    }
    if (pixelMode.x != 0) current.rgb = min(current.rgb + vSpecular.rgb, vec3(1.0));
    if (pixelMode.z != 0 && !alphaPasses(current.a)) discard;
    fragColor = current;
}
)";

// The members of the state block that a specialised program reads as constants. The block keeps
// them under other names, so its layout stays the one ShaderState has.
const char* const specialisedMembers[] = {"vertexMode", "pixelMode", "lightCount", "stageColor", "stageAlpha"};

std::string intLiteral(int32_t v)
{
    // Through uint, so even the most negative value is a valid literal.
    return "int(" + std::to_string(static_cast<uint32_t>(v)) + "u)";
}

std::string ivec4Literal(const int32_t v[4])
{
    return "ivec4(" + intLiteral(v[0]) + ", " + intLiteral(v[1]) + ", " + intLiteral(v[2]) + ", " + intLiteral(v[3]) + ")";
}

// The general source with the key's states as compile-time constants; the compiler then folds
// every branch on them away.
std::string specialisedPrelude(const ProgramKey& key)
{
    std::string s;
    for (const char* name : specialisedMembers) s += "#define " + std::string(name) + " uniform_" + name + "\n";
    s += stateBlock;
    for (const char* name : specialisedMembers) s += "#undef " + std::string(name) + "\n";
    const int32_t count[4] = {key.lightCount, 0, 0, 0};
    s += "const ivec4 vertexMode = " + ivec4Literal(key.vertexMode) + ";\n";
    s += "const ivec4 pixelMode = " + ivec4Literal(key.pixelMode) + ";\n";
    s += "const ivec4 lightCount = " + ivec4Literal(count) + ";\n";
    s += "const ivec4 stageColor[2] = ivec4[2](" + ivec4Literal(key.stageColor[0]) + ", " +
         ivec4Literal(key.stageColor[1]) + ");\n";
    s += "const ivec4 stageAlpha[2] = ivec4[2](" + ivec4Literal(key.stageAlpha[0]) + ", " +
         ivec4Literal(key.stageAlpha[1]) + ");\n";
    return s;
}

bool bindBlock(GLuint program, const char* name, GLuint binding, size_t expectedBytes, std::string& error)
{
    const GLuint block = glGetUniformBlockIndex(program, name);
    GLint blockSize = 0;
    if (block != GL_INVALID_INDEX) glGetActiveUniformBlockiv(program, block, GL_UNIFORM_BLOCK_DATA_SIZE, &blockSize);
    // The CPU struct is copied byte for byte, so a layout mismatch would scramble every input.
    if (block == GL_INVALID_INDEX || blockSize != static_cast<GLint>(expectedBytes)) {
        error = "uniform block " + std::string(name) + " has " + std::to_string(blockSize) + " bytes, expected " +
                std::to_string(expectedBytes);
        return false;
    }
    glUniformBlockBinding(program, block, binding);
    return true;
}

GLuint compile(GLenum kind, const std::string& source, std::string& error)
{
    const GLuint shader = glCreateShader(kind);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE) return shader;
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    glGetShaderInfoLog(shader, static_cast<GLsizei>(log.size()), nullptr, log.data());
    error = std::string(kind == GL_VERTEX_SHADER ? "vertex" : "fragment") + " shader does not compile: " + log.data();
    glDeleteShader(shader);
    return 0;
}

}  // namespace

GLuint buildFixedFunctionProgram(std::string& error, const ProgramKey* specialisation)
{
    const bool flat = specialisation && specialisation->flatInputs;
    const std::string prelude = constantPrelude() + (flat ? "#define INTERPOLATION flat\n" : "#define INTERPOLATION\n") +
                                (specialisation ? specialisedPrelude(*specialisation) : stateBlock);
    const GLuint vertex = compile(GL_VERTEX_SHADER, prelude + vertexSource, error);
    if (!vertex) return 0;
    const GLuint fragment = compile(GL_FRAGMENT_SHADER, prelude + fragmentSource, error);
    if (!fragment) {
        glDeleteShader(vertex);
        return 0;
    }
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);

    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        GLint length = 0;
        glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
        std::vector<char> log(static_cast<size_t>(length > 0 ? length : 1), '\0');
        glGetProgramInfoLog(program, static_cast<GLsizei>(log.size()), nullptr, log.data());
        error = std::string("shader program does not link: ") + log.data();
        glDeleteProgram(program);
        return 0;
    }

    if (!bindBlock(program, "DrawState", drawStateBinding, drawStateBytes, error) ||
        !bindBlock(program, "FrameState", frameStateBinding, sizeof(ShaderState) - drawStateBytes, error)) {
        glDeleteProgram(program);
        return 0;
    }
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "stageTexture0"), stageTextureUnit[0]);
    glUniform1i(glGetUniformLocation(program, "stageTexture1"), stageTextureUnit[1]);
    return program;
}
