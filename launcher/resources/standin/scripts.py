"""Stand-in scripts of the web-rendered views."""


def jquery_standin():
    """A tiny selector library under the name and version the book view loads."""
    return ("/*! stand-in for jQuery 1.4.2: the few calls the book view makes */\n"
            "(function(w,d){var $=function(s){var n=typeof s==\"string\"?d.querySelectorAll(s):[s];"
            "var o={length:n.length,each:function(f){for(var i=0;i<n.length;i++){f.call(n[i],i,n[i]);}"
            "return o;},addClass:function(c){return o.each(function(){this.className+=\" \"+c;});},"
            "css:function(k,v){return o.each(function(){this.style[k]=v;});}};return o;};"
            "$.fn={jquery:\"1.4.2\"};$.ready=function(f){d.addEventListener(\"DOMContentLoaded\",f,"
            "false);};w.jQuery=w.$=$;})(window,document);\n")


def highlight_js(generations):
    """The book view's annotation highlighting, with a style table per generation."""
    styles = []
    for generation in generations:
        rows = []
        for kind, shade in (("highlight", "#c8c8c8"), ("underline", "#000000"),
                            ("note", "#a0a0a0"), ("search", "#e0e0e0"),
                            ("selection", "#909090"), ("bookmark", "#606060")):
            rows.append('        "%s": { "background": "%s", "border": "1px solid %s", '
                        '"opacity": 1.0, "radius": 0 }' % (kind, shade, shade))
        styles.append('    "%s": {\n%s\n    }' % (generation, ",\n".join(rows)))
    table = "var HIGHLIGHT_STYLES = {\n%s\n};\n" % ",\n".join(styles)
    functions = """
function highlightStyle(generation, kind) {
    var table = HIGHLIGHT_STYLES[generation] || HIGHLIGHT_STYLES["%s"];
    return table[kind] || table["highlight"];
}

function wrapRange(range, kind, generation, id) {
    var style = highlightStyle(generation, kind);
    var span = document.createElement("span");
    span.className = kind;
    span.setAttribute("data-annotation", id);
    span.style.backgroundColor = style.background;
    span.style.border = style.border;
    range.surroundContents(span);
    return span;
}

function removeHighlight(id) {
    var spans = document.querySelectorAll("span[data-annotation='" + id + "']");
    for (var i = 0; i < spans.length; i++) {
        var span = spans[i];
        var parent = span.parentNode;
        while (span.firstChild) {
            parent.insertBefore(span.firstChild, span);
        }
        parent.removeChild(span);
        parent.normalize();
    }
}

function highlightedRects(id) {
    var spans = document.querySelectorAll("span[data-annotation='" + id + "']");
    var rects = [];
    for (var i = 0; i < spans.length; i++) {
        var r = spans[i].getBoundingClientRect();
        rects.push([r.left, r.top, r.width, r.height]);
    }
    return JSON.stringify(rects);
}
""" % generations[0]
    return "/* Annotation highlighting for the book view */\n" + table + functions
