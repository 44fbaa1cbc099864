"""Stand-in style sheets: the toolkit's widget style sheets (.qss) and the web views' CSS.

Widget style sheets pick images of the bundle by their ":/" paths. Images that
exist once per device generation are chosen through a "generation" property
of the styled widget, so a complete sheet has one rule per generation.
"""

# Which image folder each widget or controller class draws from.
IMAGE_FOLDERS = {
    "AboutView": "images/about",
    "BookFooter": "images/book",
    "BrowserView": "images/widgets",
    "DictionaryView": "images/reading",
    "FirstStartTour": "images/fte",
    "HelpView": "images/help",
    "HomeView": "images/home",
    "KeyboardView": "images/keyboard",
    "LibraryView": "images/library",
    "LightController": "images/light",
    "MenuView": "images/menu",
    "NavigationBar": "images/navigation",
    "NoteEditor": "images/reading",
    "ReadingLifeView": "images/readinglife",
    "ReadingMenu": "images/reading",
    "ReadingSettingsView": "images/reading/settings",
    "ReadingView": "images/reading",
    "SearchView": "images/search",
    "SettingsView": "images/settings",
    "SocialView": "images/social",
    "StatusBar": "images/statusbar",
    "UsbConnectionView": "images/usb",
    "WirelessView": "images/wireless",
}

_PSEUDO_STATES = {"_hit": ":pressed", "_on": ":checked", "_off": ":!checked",
                  "_disabled": ":disabled"}


def _widget_name(stem):
    return "".join(part.capitalize() for part in stem.split("_"))


def _image_rules(selector, folder, names, generations):
    """Rules that draw the images `names` of `folder` on children of `selector`."""
    rules = []
    for name in names:
        stem = name.rsplit(".", 1)[0]
        generation = next((g for g in generations if stem.endswith("_" + g)), None)
        if generation:
            child = _widget_name(stem[:-len(generation) - 1])
            rules.append('%s[generation="%s"] QLabel#%s {\n    border-image: url(:/%s/%s);\n}\n'
                         % (selector, generation, child, folder, name))
            continue
        state = next((s for s in _PSEUDO_STATES if stem.endswith(s)), None)
        base = stem[:-len(state)] if state else stem
        rules.append("%s QPushButton#%s%s {\n    border-image: url(:/%s/%s);\n}\n"
                     % (selector, _widget_name(base), _PSEUDO_STATES.get(state, ""), folder, name))
    return rules


def widget_sheet(rng, class_name, images, generations, complete):
    """The style sheet of one widget or controller class.

    images: file names in the class's image folder. A complete sheet styles all
    of them; otherwise a few are picked.
    """
    folder = IMAGE_FOLDERS[class_name]
    names = sorted(images) if complete else sorted(rng.sample(sorted(images), min(3, len(images))))
    margin, spacing = rng.randrange(2, 24), rng.randrange(2, 12)
    text = "/* %s */\n" % class_name
    text += "%s {\n    background-color: #%02x%02x%02x;\n    margin: %dpx;\n}\n" % (
        class_name, *(rng.randrange(200, 256) for _ in range(3)), margin)
    text += "%s QLabel#title {\n    font-size: %dpx;\n    font-weight: %s;\n    padding: %dpx;\n}\n" % (
        class_name, rng.randrange(18, 40), rng.choice(["bold", "normal"]), spacing)
    text += "".join(_image_rules(class_name, folder, names, generations))
    return text


_DEFAULT_WIDGETS = [
    ("QPushButton", "widget_button"), ("QCheckBox::indicator", "widget_checkbox"),
    ("QRadioButton::indicator", "widget_radio"), ("QLineEdit", "widget_line_edit"),
    ("QComboBox", "widget_combo_box"), ("QComboBox::down-arrow", "widget_combo_arrow"),
    ("QListView::item", "widget_list_row"), ("QScrollBar:vertical", "widget_scroll_track"),
    ("QScrollBar::handle:vertical", "widget_scroll_handle"),
    ("QSlider::groove:horizontal", "widget_slider_track"),
    ("QSlider::handle:horizontal", "widget_slider_handle"),
    ("QProgressBar", "widget_progress_track"), ("QProgressBar::chunk", "widget_progress_fill"),
    ("QToolTip", "widget_tooltip"), ("QFrame#panel", "widget_panel"), ("QDialog", "dialog_frame"),
]


def default_sheet(generations):
    """The application-wide style sheet: every standard widget in every generation."""
    text = "/* Application-wide style sheet */\n"
    text += "QWidget {\n    font-family: \"Georgia\";\n    font-size: 22px;\n    color: #000000;\n}\n"
    for generation in generations:
        for selector, image in _DEFAULT_WIDGETS:
            folder = "images/dialogs" if image.startswith("dialog") else "images/widgets"
            head, _, sub = selector.partition("::")
            text += '%s[generation="%s"]%s {\n    border-image: url(:/%s/%s_%s.png);\n' % (
                head, generation, "::" + sub if sub else "", folder, image, generation)
            text += "    padding: 4px;\n    min-height: 40px;\n}\n"
        for state, pseudo in (("", ""), ("_hit", ":pressed"), ("_disabled", ":disabled")):
            text += ('QPushButton[generation="%s"]%s {\n    border-image: url(:/images/widgets/'
                     'widget_button%s.png);\n}\n' % (generation, pseudo, state))
    return text


def book_css():
    """The book view's style sheet: the reader's own typography over publisher CSS."""
    return ("body {\n    margin: 0;\n    padding: 0 0.5em;\n    widows: 2;\n    orphans: 2;\n}\n"
            "p {\n    text-indent: 1.2em;\n    margin: 0;\n    text-align: justify;\n}\n"
            "h1, h2, h3 {\n    page-break-after: avoid;\n    font-weight: bold;\n}\n"
            "img {\n    max-width: 100%;\n    max-height: 95%;\n}\n"
            "span.highlight {\n    background-color: #c8c8c8;\n}\n"
            "span.note-anchor {\n    border-bottom: 1px dotted #404040;\n}\n")


def pocket_css(generations):
    """The read-it-later view: article typography for each font size and generation."""
    text = "/* Saved articles */\n"
    text += "body.pocket {\n    margin: 0;\n    font-family: \"Georgia\", serif;\n}\n"
    for generation in generations:
        for step in range(1, 9):
            size = 14 + 3 * step
            for element, scale in (("p", 1.0), ("h1", 1.6), ("h2", 1.3), ("blockquote", 0.9),
                                   ("li", 1.0), ("figcaption", 0.8)):
                text += ("body.pocket.%s.size-%d %s {\n    font-size: %dpx;\n"
                         "    line-height: 1.5em;\n    margin: 0 0 0.6em 0;\n}\n"
                         % (generation, step, element, round(size * scale)))
    return text


def pocket_about_css():
    """The read-it-later service's about page."""
    return ("#about {\n    margin: 24px;\n    text-align: center;\n}\n"
            "#about .logo {\n    width: 120px;\n    height: 36px;\n}\n"
            "#about p.terms {\n    font-size: 16px;\n    color: #505050;\n}\n")
