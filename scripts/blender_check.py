# Run by scripts/check-with-blender inside Blender:
#   blender -b --factory-startup --python blender_check.py -- FILE
# Reads FILE (.fbx or .dae) with Blender's own reader and prints what it holds: its triangles,
# the box around every vertex in world space (Blender's axes: +Z up) and the animation's length
# in seconds, one "key value" line each.
import sys

import bpy

path = sys.argv[sys.argv.index("--") + 1]
bpy.ops.wm.read_factory_settings(use_empty=True)
if path.lower().endswith(".fbx"):
    bpy.ops.import_scene.fbx(filepath=path)
else:
    bpy.ops.wm.collada_import(filepath=path)

scene = bpy.context.scene
scene.frame_set(0)
depsgraph = bpy.context.evaluated_depsgraph_get()
triangles = 0
low, high = [float("inf")] * 3, [float("-inf")] * 3
for obj in scene.objects:
    if obj.type != "MESH":
        continue
    mesh = obj.evaluated_get(depsgraph).to_mesh()
    mesh.calc_loop_triangles()
    triangles += len(mesh.loop_triangles)
    for vertex in mesh.vertices:
        world = obj.matrix_world @ vertex.co
        low = [min(a, b) for a, b in zip(low, world)]
        high = [max(a, b) for a, b in zip(high, world)]
last_frame = max((action.frame_range[1] for action in bpy.data.actions), default=0.0)
fps = scene.render.fps / scene.render.fps_base
print("blender triangles %d" % triangles)
print("blender bounds %s" % " ".join("%.4f" % v for v in low + high))
print("blender seconds %.4f" % (last_frame / fps))
