// The page's words. German is the source; English comes from the desktop program's
// translation (strings.js is generated from it at build time), so both say the same.
import { ENGLISH } from './strings.js';

// Words the desktop program does not have: the page's own.
const PAGE_WORDS = {
  'Die Datei %1 ist keine .morv3d-Datei: die Seite liest nur .morv3d-Szenen.':
    'The file %1 is not a .morv3d file: the page reads .morv3d scenes only.',
  'Keine Datei gewählt.': 'No file chosen.',
  'Die Adresse %1 liegt nicht auf dieser Website.': 'The address %1 is not on this site.',
  'Die Adresse %1 kann nicht geladen werden (%2).': 'The address %1 cannot be loaded (%2).',
  'Dateien oder Ordner hier ablegen': 'Drop files or folders here',
  'Bild speichern': 'Save picture',
  '.glb herunterladen': 'Download .glb',
  'Dateien werden gelesen … %1 von %2': 'Reading the files … %1 of %2',
  '%1 wird geladen …': 'Loading %1 …',
};

let language = 'de';

export function setLanguage(lang) {
  language = lang === 'en' ? 'en' : 'de';
  document.documentElement.lang = language;
}

export function getLanguage() {
  return language;
}

// The first of the browser's languages that is German or English; German when none is, as on
// the desktop.
export function browserLanguage(languages) {
  for (const tag of languages || []) {
    const primary = String(tag).toLowerCase().split('-')[0];
    if (primary === 'de' || primary === 'en') return primary;
  }
  return 'de';
}

// The text in the current language; %1, %2, ... replaced by args in order.
export function t(source, ...args) {
  let text = source;
  if (language === 'en') text = ENGLISH[source] ?? PAGE_WORDS[source] ?? source;
  return args.reduce((s, arg, i) => s.split(`%${i + 1}`).join(String(arg)), text);
}

// A count with Qt's plural forms ("%n Treffer"): English has one for 1 and one for the rest.
export function tn(source, n) {
  let text = source;
  if (language === 'en') {
    const forms = ENGLISH[source];
    if (Array.isArray(forms)) text = n === 1 ? forms[0] : forms[forms.length - 1];
  }
  return text.split('%n').join(String(n));
}

// A menu text without its mnemonic ("Szene &einpassen" -> "Szene einpassen").
export function tm(source) {
  return t(source).replace(/&(.)/g, '$1');
}

// Labels marked in the document: data-t for the text, data-t-placeholder for a placeholder,
// data-t-title for a tooltip.
export function translateDocument(root) {
  for (const el of root.querySelectorAll('[data-t]')) el.textContent = tm(el.dataset.t);
  for (const el of root.querySelectorAll('[data-t-title]')) el.title = t(el.dataset.tTitle);
  for (const el of root.querySelectorAll('[data-t-placeholder]')) {
    el.placeholder = t(el.dataset.tPlaceholder);
  }
}
