// The 3D view: the C++ renderer draws the scene into the canvas's WebGL2 context. Dragging turns
// (one finger too), the middle button or Shift moves, the wheel and two fingers zoom; a click
// picks. The camera and every rule of drawing and picking are in C++.
const DRAG_PIXELS = 4; // a press that moves less is a click

export class View {
  constructor(canvas, onPick) {
    this.canvas = canvas;
    this.onPick = onPick;
    this.doc = null;
    this.pointers = new Map();
    this.waiting = [];
    this.frame = 0;
    canvas.addEventListener('pointerdown', (e) => this.onDown(e));
    canvas.addEventListener('pointermove', (e) => this.onMove(e));
    canvas.addEventListener('pointerup', (e) => this.onUp(e));
    canvas.addEventListener('pointercancel', (e) => this.pointers.delete(e.pointerId));
    canvas.addEventListener('wheel', (e) => this.onWheel(e), { passive: false });
    new ResizeObserver(() => this.redraw()).observe(canvas);
  }

  // Empty when the view draws, otherwise why it cannot.
  start(doc) {
    this.doc = doc;
    const error = doc.initView(`#${this.canvas.id}`);
    this.error = error;
    return error;
  }

  // Draws on the next animation frame; resolves once that frame is drawn.
  redraw() {
    const drawn = new Promise((resolve) => this.waiting.push(resolve));
    if (!this.frame) {
      this.frame = requestAnimationFrame(() => {
        this.frame = 0;
        this.drawNow();
        for (const resolve of this.waiting.splice(0)) resolve();
      });
    }
    return drawn;
  }

  drawNow() {
    if (!this.doc || this.error) return;
    const width = Math.max(1, Math.round(this.canvas.clientWidth));
    const height = Math.max(1, Math.round(this.canvas.clientHeight));
    if (this.canvas.width !== width || this.canvas.height !== height) {
      this.canvas.width = width;
      this.canvas.height = height;
    }
    this.doc.draw(width, height);
  }

  onDown(e) {
    this.canvas.setPointerCapture(e.pointerId);
    this.pointers.set(e.pointerId, { x: e.offsetX, y: e.offsetY, startX: e.offsetX, startY: e.offsetY, button: e.button, shift: e.shiftKey });
  }

  onMove(e) {
    const p = this.pointers.get(e.pointerId);
    if (!p || !this.doc) return;
    const dx = e.offsetX - p.x;
    const dy = e.offsetY - p.y;
    const height = this.canvas.clientHeight || 1;
    if (this.pointers.size === 2) {
      // Two fingers: the change of their distance zooms, their middle's movement moves.
      const [a, b] = [...this.pointers.values()];
      const before = Math.hypot(a.x - b.x, a.y - b.y);
      p.x = e.offsetX;
      p.y = e.offsetY;
      const after = Math.hypot(a.x - b.x, a.y - b.y);
      if (before > 0 && after > 0) this.doc.zoom(before / after);
      this.doc.pan(-dx / 2 / height, dy / 2 / height);
    } else {
      p.x = e.offsetX;
      p.y = e.offsetY;
      if (p.button === 1 || p.shift) this.doc.pan(-dx / height, dy / height);
      else this.doc.orbit(-dx * 0.01, dy * 0.01);
    }
    this.redraw();
  }

  onUp(e) {
    const p = this.pointers.get(e.pointerId);
    this.pointers.delete(e.pointerId);
    if (p && this.doc && Math.hypot(e.offsetX - p.startX, e.offsetY - p.startY) < DRAG_PIXELS) {
      this.onPick(this.doc.pick(e.offsetX, e.offsetY));
    }
  }

  // Towards the cursor, as on the desktop: the point under it stays roughly where it is.
  onWheel(e) {
    e.preventDefault();
    if (!this.doc || !e.deltaY) return;
    const factor = 0.85 ** (-e.deltaY / 100);
    const height = this.canvas.clientHeight || 1;
    const right = (e.offsetX - this.canvas.clientWidth / 2) / height;
    const up = (this.canvas.clientHeight / 2 - e.offsetY) / height;
    this.doc.pan(right * (1 - factor), up * (1 - factor));
    this.doc.zoom(factor);
    this.redraw();
  }
}
