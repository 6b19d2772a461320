#include "render/drawpasses.h"

namespace {

void BindTexture(PassContext& context, const DrawCall& call) {
    static const std::vector<CMorv3DLoader::tMaterialMaps> kNone;
    glBindTexture(GL_TEXTURE_2D,
                  context.textures.Get(call.dwMaterial, call.dwMap,
                                       context.pMaterials != nullptr ? *context.pMaterials : kNone,
                                       context.pFolder, context.missing));
}

}  // namespace

void DrawOpaquePass(PassContext& context, const DrawList& list) {
    glDisable(GL_BLEND);
    glDepthMask(GL_TRUE);
    for (const DrawCall& call : list.opaque) {
        BindTexture(context, call);
        context.geometry.DrawTriangles(call);
    }
    context.geometry.Unbind();
}

void DrawBlendedPass(PassContext& context, const DrawList& list) {
    glEnable(GL_BLEND);
    glDepthMask(GL_FALSE);
    for (const DrawCall& call : list.blended) {
        glBlendFunc(GL_SRC_ALPHA, call.blend == EBlend::Additive ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
        BindTexture(context, call);
        context.geometry.DrawTriangles(call);
    }
    context.geometry.Unbind();
    glDisable(GL_BLEND);
    glDepthMask(GL_TRUE);
}

void DrawEdgePass(PassContext& context, const DrawList& list, const float afColor[3]) {
    glUniform1i(context.program.uFlat, 2);
    glUniform4f(context.program.uColor, afColor[0], afColor[1], afColor[2], 1.0f);
    for (const DrawCall& call : list.edges) {
        context.geometry.DrawEdges(call);
    }
    context.geometry.Unbind();
    glUniform1i(context.program.uFlat, 0);
}
