#!/usr/bin/env bash
# Writes import_models.tsv: for each model below (paths inside the assimp-testmodels folder),
# what Assimp itself reports, so that the import test compares the scene file with Assimp and
# not with our own reading of the model. Run again only when the list changes.
#   triangles, nodes: `assimp info` (its own post-processing; the triangles are the faces of the
#       meshes whose primitive type is "triangle", counted for every node that shows the mesh)
#   bounds: import_models_reference.cpp, a small reader on Assimp (world space at the start of
#       the first animation, skinned; `assimp info` prints a box, but at rest without skinning
#       and from matrices multiplied in the wrong order)
#   seconds: `assimp dump` of the first animation: duration / ticks per second (25 when 0)
#   errors: the lines `assimp dump -l` logs as "Error," with the import's own post-processing
#       steps: Assimp read the file in part
# Columns after the reference values are ours: render ("render" draws the imported scene
# headless with `morv3d render` as well, "-" does not), given in the list below.
set -euo pipefail
models=${ASSIMP_MODELS:-/usr/share/assimp/models}
out=$(dirname "$0")/import_models.tsv
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++17 -O1 -o "$tmp/reader" "$(dirname "$0")/import_models_reference.cpp" -lassimp

list=(
    "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb|glTF2|render"
    "glTF2/BoxTextured-glTF/BoxTextured.gltf|glTF2"
    "glTF2/glTF-Sample-Models/AnimatedMorphCube-glTF/AnimatedMorphCube.gltf|glTF2|render"
    "glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb|glTF2"
    "glTF2/simple_skin/simple_skin.gltf|glTF2"
    "glTF2/BoxBadNormals-glTF-Binary/BoxBadNormals.glb|glTF2"
    "glTF2/ClearCoat-glTF/ClearCoatTest.gltf|glTF2"
    "glTF/CesiumMilkTruck/CesiumMilkTruck.gltf|glTF"
    "glTF/TwoBoxes/TwoBoxes.gltf|glTF"
    "BVH/01_01.bvh|BVH|render"
    "BVH/Boxing_Toes.bvh|BVH"
    "MD5/SimpleCube.md5mesh|MD5"
    "MD2/faerie.md2|MD2"
    "MD2/sydney.md2|MD2"
    "X/anim_test.x|X|render"
    "X/BCN_Epileptic.X|X"
    "X/Testwuson.X|X"
    "X/test.x|X"
    "X/test_cube_binary.x|X"
    "Collada/duck.dae|Collada|render"
    "Collada/box_nested_animation.dae|Collada"
    "Collada/anims_with_full_rotations_between_keys.DAE|Collada"
    "Collada/teapot_instancenodes.DAE|Collada"
    "Collada/human.zae|Collada"
    "Collada/lights.dae|Collada"
    "FBX/box.fbx|FBX"
    "FBX/huesitos.fbx|FBX"
    "FBX/animation_with_skeleton.fbx|FBX"
    "FBX/spider.fbx|FBX"
    "FBX/box_orphant_embedded_texture.fbx|FBX"
    "FBX/cubes_with_names.fbx|FBX"
    "3DS/RotatingCube.3DS|3DS"
    "3DS/cube_with_diffuse_texture.3DS|3DS"
    "3DS/cubes_with_alpha.3DS|3DS"
    "3DS/test1.3ds|3DS"
    "ASE/MotionCaptureROM.ase|ASE"
    "ASE/anim.ASE|ASE"
    "OBJ/spider.obj|OBJ"
    "OBJ/box.obj|OBJ"
    "PLY/Wuson.ply|PLY"
    "PLY/cube_binary.ply|PLY"
    "STL/Spider_binary.stl|STL"
    "STL/sphereWithHole.stl|STL"
    "OFF/Wuson.off|OFF"
    "LWO/LWO2/MappingModes/earth_planar_x.lwo|LWO"
    "LWO/LWO2/ModoExport_vertNormals.lwo|LWO"
    "LWS/move_xz_bezier.lws|LWS"
    "AC/SphereWithLight.ac|AC"
    "AC/Wuson.ac|AC"
    "B3D/WusonBlitz.b3d|B3D"
    "CSM/ThomasFechten.csm|CSM"
    "SMD/WusonSMD.smd|SMD"
    "MDL/MDL (HL1)/man.mdl|MDL"
    "MDL/MDL (HL1)/blend_additive.mdl|MDL|render"
    "Q3D/earth.q3o|Q3D"
    "XGL/cubes_with_alpha.zgl|XGL"
    "IQM/mrfixit.iqm|IQM"
    "3MF/box.3mf|3MF"
    "AMF/test_with_mat.amf|AMF"
    "OpenGEX/Example.ogex|OpenGEX"
    "HMP/terrain.hmp|HMP"
    "DXF/PinkEggFromLW.dxf|DXF"
    "BLEND/BlenderDefault_276.blend|BLEND"
    "BLEND/HUMAN.blend|BLEND"
    "COB/spider_4_3.cob|COB"
    "SIB/heffalump.sib|SIB"
    "X3D/ComputerKeyboard.x3d|X3D"
    "RAW/Wuson.raw|RAW"
    "MS3D/jeep1.ms3d|MS3D"
    "NFF/NFF/spheres.nff|NFF"
    "3D/box.uc|Unreal"
    "glTF2/BoxTextured-glTF-Embedded/BoxTextured.gltf|glTF2"
    "glTF2/IncorrectVertexArrays/Cube.gltf|glTF2"
    "glTF2/IndexOutOfRange/IndexOutOfRange.gltf|glTF2"
    "glTF2/textureTransform/TextureTransformTest.gltf|glTF2"
    "glTF2/cameras/Cameras.gltf|glTF2"
    "glTF/IncorrectVertexArrays/Cube_v1.gltf|glTF"
    "ASE/anim2.ASE|ASE"
    "LWS/move_x_oldformat_56.lws|LWS"
    "LWS/move_x_post_repeat.lws|LWS"
    "SMD/triangle.smd|SMD"
    "MDL/MDL (HL1)/unnamed_sequences.mdl|MDL"
    "MDC/spider.mdc|MDC"
    "Ogre/TheThing/Mesh.mesh.xml|Ogre"
    "3DS/CameraRollAnim.3ds|3DS"
    "FBX/embedded_ascii/box_embedded_texture_fragmented.fbx|FBX"
    "FBX/maxPbrMaterial_metalRough.fbx|FBX"
    "FBX/global_settings.fbx|FBX"
    "COB/dwarf.cob|COB"
    "Collada/COLLADA.dae|Collada"
    "Collada/cube_tristrips.dae|Collada"
    "Collada/kwxport_test_vcolors.dae|Collada"
    "AC/SphereWithLight_UTF8BOM.ac|AC"
)

{
    printf '# path\tformat\ttriangles\tnodes\tmin_x\tmin_y\tmin_z\tmax_x\tmax_y\tmax_z\tseconds\terrors\trender\n'
    for entry in "${list[@]}"; do
        IFS='|' read -r path format render <<<"$entry"
        info=$(assimp info "$models/$path" 2>/dev/null | tr -d '\r')
        nodes=$(awk '/^Nodes:/ {print $2}' <<<"$info")
        # The triangles of each mesh, summed over the nodes that show it.
        triangles=$(awk '
            /^Meshes:  \(name\)/ { inMeshes = 1; next }
            inMeshes && /^    [0-9]+ \(/ {
                id = $1 + 0; split($0, a, "/"); n = a[3]; sub(/\|.*/, "", n)
                faces[id] = (/\| triangle\]/) ? n + 0 : 0; next
            }
            inMeshes && !/^    [0-9]+ \(/ { inMeshes = 0 }
            /^Node hierarchy:/ { inNodes = 1; next }
            inNodes && /\(mesh / {
                list = $0; sub(/.*\(mesh /, "", list); sub(/\).*/, "", list)
                n = split(list, ids, ", "); for (i = 1; i <= n; ++i) s += faces[ids[i] + 0]
            }
            END { print s + 0 }' <<<"$info")
        read -r min_x min_y min_z max_x max_y max_z < <("$tmp/reader" "$models/$path")
        log=$(assimp dump "$models/$path" "$tmp/dump.xml" -tri -gsn -jiv -slm -vds -fd -l 2>&1 || true)
        errors=$(grep -c '^Error,' <<<"$log" || true)
        seconds=$(grep -m1 -o '<Animation name="[^"]*" duration="[^"]*" tick_cnt="[^"]*"' "$tmp/dump.xml" 2>/dev/null |
            sed 's/.*duration="\([^"]*\)" tick_cnt="\([^"]*\)"/\1 \2/' |
            awk '{t = $2 + 0; if (t <= 0) t = 25; printf "%.6f", $1 / t}' || true)
        rm -f "$tmp/dump.xml"
        printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$path" "$format" "$triangles" "$nodes" \
            "$min_x" "$min_y" "$min_z" "$max_x" "$max_y" "$max_z" "${seconds:-0}" "$errors" "${render:--}"
    done
} >"$out"
echo "wrote $out"
