"""Stand-in translation sources (.ts) for the toolkit's translation catalogues.

The translations are pseudo-translations: recognisable at a glance, in the
script of the language, and of realistic length. The Japanese catalogue is a
partial one, as a catalogue that is still being translated would be.
"""

from xml.sax.saxutils import escape

PHRASES = [
    "Library", "Home", "Reading Now", "Settings", "Sync now", "Sign in", "Sign out",
    "Cancel", "OK", "Done", "Back", "Next", "Skip", "Close", "Delete", "Remove from device",
    "Mark as finished", "Mark as unread", "Add to collection", "New collection",
    "Search your library", "Search the store", "No results found", "Connecting to Wi-Fi",
    "Wi-Fi is off", "Turn on Wi-Fi", "Battery is low", "Please connect your charger",
    "Your books are syncing", "Last synced: %1", "%n book(s)", "Page %1 of %2",
    "%1 minutes left in chapter", "Table of contents", "Bookmarks", "Notes and highlights",
    "Font size", "Line spacing", "Margins", "Justification", "Brightness",
    "Dictionary", "Translate", "Share quote", "Go to page", "Rate this book",
    "You finished the book!", "Recommended for you", "Read more", "Device information",
]

_ACCENTS = {
    "de_DE": str.maketrans("aouAOU", "äöüÄÖÜ"),
    "es_ES": str.maketrans("aeinouN", "áéíñóúÑ"),
    "fr_FR": str.maketrans("aeiouc", "àéîôûç"),
    "it_IT": str.maketrans("aeiou", "àèìòù"),
    "nl_NL": str.maketrans("eiu", "ëïü"),
    "pt_BR": str.maketrans("aoc", "ãõç"),
    "pt_PT": str.maketrans("aoce", "âôçê"),
    "ru_RU": str.maketrans("abvgdeziklmnoprstufhcABVGDEZIKLMNOPRSTUFHC",
                           "абвгдезиклмнопрстуфхцАБВГДЕЗИКЛМНОПРСТУФХЦ"),
}

# Plural forms of the languages whose count is not two.
_NUMERUS_FORMS = {"ja_JP": 1, "ru_RU": 3}

# Kana and common kanji for the Japanese pseudo-translation.
_JAPANESE = ([chr(c) for c in range(0x3041, 0x3094)] + [chr(c) for c in range(0x30A1, 0x30F7)]
             + list("本書読者設定検索接続同期削除表示完了次前戻閉開文字行間余白辞書翻訳共有評価"))


def _pseudo(rng, language, source):
    if language == "en_US":
        return source
    if language == "ja_JP":
        return "".join(rng.choice(_JAPANESE) for _ in range(max(2, len(source) // 2)))
    # Placeholders such as %1 and %n stay as they are.
    words = [w if w.startswith("%") else w.translate(_ACCENTS[language]) for w in source.split(" ")]
    return " ".join(words)


def ts_file(rng, language, contexts):
    """The .ts source of one catalogue. contexts: class names whose texts it translates."""
    out = ['<?xml version="1.0" encoding="utf-8"?>', "<!DOCTYPE TS>",
           '<TS version="2.1" language="%s" sourcelanguage="en_US">' % language]
    for context in contexts:
        phrases = sorted(rng.sample(PHRASES, 12))
        if language == "ja_JP":
            phrases = phrases[:3]
        out.append("<context>")
        out.append("    <name>%s</name>" % escape(context))
        for phrase in phrases:
            numerus = ' numerus="yes"' if "%n" in phrase else ""
            out.append("    <message%s>" % numerus)
            out.append("        <source>%s</source>" % escape(phrase))
            if numerus:
                out.append("        <translation>")
                for _ in range(_NUMERUS_FORMS.get(language, 2)):
                    out.append("            <numerusform>%s</numerusform>"
                               % escape(_pseudo(rng, language, phrase)))
                out.append("        </translation>")
            else:
                out.append("        <translation>%s</translation>"
                           % escape(_pseudo(rng, language, phrase)))
            out.append("    </message>")
        out.append("</context>")
    out.append("</TS>")
    return "\n".join(out) + "\n"
