// The structure tree as a virtual list: only the rows in sight are in the DOM, so a tree of
// 100,000 entries scrolls as smoothly as one of ten.
const ROW_HEIGHT = 20;

export class TreeView {
  constructor(container, spacer, onSelect) {
    this.container = container;
    this.spacer = spacer;
    this.onSelect = onSelect;
    this.clear();
    container.addEventListener('scroll', () => this.draw());
    container.addEventListener('click', (e) => this.onClick(e));
    container.addEventListener('keydown', (e) => this.onKey(e));
    new ResizeObserver(() => this.draw()).observe(container);
  }

  clear() {
    this.doc = null;
    this.depths = new Uint32Array(0);
    this.images = new Uint32Array(0);
    this.open = new Uint8Array(0);
    this.filter = null; // one flag per entry, or null for all
    this.matches = new Set();
    this.rows = [];
    this.selected = -1;
    this.labels = new Map();
    this.refresh();
  }

  // Takes the document's tree as it now is (after a new scene or new filters).
  load(doc) {
    this.doc = doc;
    this.depths = doc.depths();
    this.images = doc.images();
    this.open = Uint8Array.from(doc.expanded());
    this.filter = null;
    this.matches = new Set();
    this.selected = -1;
    this.labels = new Map();
    this.refresh();
  }

  hasChildren(i) {
    return i + 1 < this.depths.length && this.depths[i + 1] > this.depths[i];
  }

  // The rows shown: entries whose ancestors are all expanded and that pass the filter.
  refresh() {
    const rows = [];
    const n = this.depths.length;
    for (let i = 0; i < n; i++) {
      if (this.filter && !this.filter[i]) continue;
      rows.push(i);
      if (!this.open[i]) {
        const depth = this.depths[i];
        while (i + 1 < n && this.depths[i + 1] > depth) i++;
      }
    }
    this.rows = rows;
    this.spacer.style.height = `${rows.length * ROW_HEIGHT}px`;
    this.draw();
  }

  label(i) {
    let text = this.labels.get(i);
    if (text === undefined) {
      text = this.doc.label(i);
      if (this.labels.size > 5000) this.labels.clear();
      this.labels.set(i, text);
    }
    return text;
  }

  draw() {
    const top = this.container.scrollTop;
    const first = Math.max(0, Math.floor(top / ROW_HEIGHT) - 5);
    const last = Math.min(this.rows.length, Math.ceil((top + this.container.clientHeight) / ROW_HEIGHT) + 5);
    const fragment = document.createDocumentFragment();
    for (let r = first; r < last; r++) {
      const i = this.rows[r];
      const row = document.createElement('div');
      row.className = 'row';
      if (i === this.selected) row.classList.add('selected');
      if (this.matches.has(i)) row.classList.add('match');
      row.dataset.entry = i;
      row.setAttribute('role', 'treeitem');
      row.style.top = `${r * ROW_HEIGHT}px`;
      row.style.paddingLeft = `${this.depths[i] * 16 + 2}px`;
      const twisty = document.createElement('span');
      twisty.className = 'twisty';
      twisty.textContent = this.hasChildren(i) ? (this.open[i] ? '▾' : '▸') : '';
      const icon = document.createElement('span');
      icon.className = `icon i${this.images[i]}`;
      const label = document.createElement('span');
      label.className = 'label';
      label.textContent = this.label(i);
      row.append(twisty, icon, label);
      fragment.append(row);
    }
    for (const old of this.container.querySelectorAll('.row')) old.remove();
    this.container.append(fragment);
  }

  toggle(i, open) {
    this.open[i] = open === undefined ? !this.open[i] : open;
    this.refresh();
  }

  // Makes entry i current: its ancestors expanded, scrolled into sight.
  select(i) {
    if (i < 0 || i >= this.depths.length) return;
    let expanded = false;
    for (let j = i - 1, depth = this.depths[i]; j >= 0 && depth > 0; j--) {
      if (this.depths[j] < depth) {
        if (!this.open[j]) { this.open[j] = 1; expanded = true; }
        depth = this.depths[j];
      }
    }
    this.selected = i;
    if (expanded) this.refresh();
    const r = this.rows.indexOf(i);
    if (r >= 0) {
      const y = r * ROW_HEIGHT;
      const c = this.container;
      if (y < c.scrollTop) c.scrollTop = y;
      else if (y + ROW_HEIGHT > c.scrollTop + c.clientHeight) c.scrollTop = y + ROW_HEIGHT - c.clientHeight;
    }
    this.draw();
    this.onSelect(i);
  }

  onClick(e) {
    const row = e.target.closest('.row');
    if (!row) return;
    const i = Number(row.dataset.entry);
    if (e.target.classList.contains('twisty')) this.toggle(i);
    else this.select(i);
    this.container.focus();
  }

  onKey(e) {
    const r = this.rows.indexOf(this.selected);
    const moves = { ArrowDown: 1, ArrowUp: -1, PageDown: 20, PageUp: -20 };
    if (e.key in moves) {
      const next = Math.min(this.rows.length - 1, Math.max(0, (r < 0 ? 0 : r) + moves[e.key]));
      if (this.rows.length) this.select(this.rows[next]);
    } else if (e.key === 'ArrowRight' && this.selected >= 0) {
      this.toggle(this.selected, 1);
    } else if (e.key === 'ArrowLeft' && this.selected >= 0) {
      this.toggle(this.selected, 0);
    } else {
      return;
    }
    e.preventDefault();
  }
}
