#!/usr/bin/env python3
"""Writes the page: the static folder (OUT/) and one self-contained OUT/morv3d-viewer.html.

Usage: build.py WASM_DIR TRANSLATION_TS OUT
WASM_DIR holds morv3d_web.js and morv3d_web.wasm; the English words come from the desktop's
translation file.
"""
import base64
import json
import re
import shutil
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

HERE = Path(__file__).resolve().parent
MODULES = ["strings.js", "i18n.js", "engine.js", "treeview.js", "view.js", "main.js"]  # dependency order
STATIC = ["index.html", "style.css"] + MODULES[1:]


def english_words(ts_path):
    """German source -> English translation (a list for plural forms), every context."""
    words = {}
    for message in ET.parse(ts_path).getroot().iter("message"):
        source = message.findtext("source")
        translation = message.find("translation")
        forms = [f.text or "" for f in translation.findall("numerusform")]
        words[source] = forms if forms else (translation.text or "")
    return words


def inline_modules(out):
    """The page's modules as one script: their imports are the other modules, so with the
    import lines and export keywords dropped they run as one."""
    parts = []
    for name in MODULES:
        text = (out / name).read_text(encoding="utf-8")
        text = re.sub(r"^import .* from '\./[\w]+\.js';\n", "", text, flags=re.M)
        text = re.sub(r"^export \{[^}]*\};\n", "", text, flags=re.M)
        text = re.sub(r"^export ", "", text, flags=re.M)
        if re.search(r"^import ", text, flags=re.M):
            sys.exit(f"build.py: {name} imports something other than the page's modules")
        parts.append(f"// {name}\n{text}")
    return "\n".join(parts)


def script(text, module=False):
    kind = ' type="module"' if module else ""
    text = text.replace("</script", "<\\/script")
    return f"<script{kind}>\n{text}\n</script>"


def main():
    wasm_dir, ts_path, out = Path(sys.argv[1]), Path(sys.argv[2]), Path(sys.argv[3])
    out.mkdir(parents=True, exist_ok=True)
    for name in STATIC:
        shutil.copyfile(HERE / name, out / name)
    for name in ["morv3d_web.js", "morv3d_web.wasm"]:
        shutil.copyfile(wasm_dir / name, out / name)
    words = json.dumps(english_words(ts_path), ensure_ascii=False, indent=0, sort_keys=True)
    (out / "strings.js").write_text(
        "// Generated from the desktop's translation: German source -> English.\n"
        f"export const ENGLISH = {words};\n", encoding="utf-8")

    html = (out / "index.html").read_text(encoding="utf-8")
    wasm = base64.b64encode((out / "morv3d_web.wasm").read_bytes()).decode("ascii")
    engine = (out / "morv3d_web.js").read_text(encoding="utf-8")
    replacements = {
        # Nothing is fetched: scripts, styles and the WebAssembly are in the file.
        re.compile(r'<meta http-equiv="Content-Security-Policy"[^>]*>'):
            '<meta http-equiv="Content-Security-Policy" content="default-src \'none\'; '
            "script-src 'unsafe-inline' 'wasm-unsafe-eval'; style-src 'unsafe-inline'; "
            "img-src data: blob:\">",
        re.compile(r'<link rel="stylesheet" href="style.css">'):
            "<style>\n" + (out / "style.css").read_text(encoding="utf-8") + "</style>",
        re.compile(r'<script src="morv3d_web.js"></script>'):
            script(f'globalThis.MORV3D_WASM_BASE64 = "{wasm}";\n{engine}'),
        re.compile(r'<script type="module" src="main.js"></script>'):
            script(inline_modules(out), module=True),
    }
    for pattern, text in replacements.items():
        html, count = pattern.subn(lambda _m, text=text: text, html)
        if count != 1:
            sys.exit(f"build.py: {pattern.pattern} not found once in index.html")
    (out / "morv3d-viewer.html").write_text(html, encoding="utf-8")


if __name__ == "__main__":
    main()
