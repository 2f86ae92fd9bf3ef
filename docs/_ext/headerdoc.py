"""headerdoc: a C or C++ header's declarations, rendered with their comments.

In a page (MyST or reStructuredText)::

    ```{c-header} include/bsbasis.h
    ```
    ```{cpp-header} include/bsbasis.hpp
    ```

The path is relative to the repository (the parent of ``docs/``).  The
directive reads the header and emits, in the header's order:

- the file's opening comment, as the introduction;
- one entry of Sphinx's C or C++ domain per declaration (``c:function``,
  ``c:macro``, ``cpp:class``, ``cpp:function``, ``cpp:enum-class``...), whose
  body is the comment above the declaration and the one after it on its
  line.  Declarations on consecutive lines under one comment (overloads,
  accessors, a group of constants) share one entry; an overload without a
  comment of its own joins the entry before it.  The public members of a
  class and the enumerators of an enum are entries inside it; a C struct is
  one entry that shows its fields as written;
- a comment that stands alone (a blank line below it) as prose in place; a
  comment boxed in lines of dashes as a section, its first line the title.

Namespace ``detail`` is left out, except the names a public declaration
uses (a base class, a constraint on a template parameter).  A declaration
that the domain cannot parse is shown as a literal block with its comment,
never dropped.  The names of documented declarations in a comment's text
link to their entries.

How: the header is scanned (comments and preprocessor lines apart from the
code), split into statements at the top level of each brace scope, and the
statements classified; comments attach by line adjacency.  The entries are
written as reStructuredText of the domain's directives, parsed in place;
the bodies are docutils nodes made from the comments, which the
``headerdoc-nodes`` directive puts into each entry.  ``tree(path)`` and
``documented_names(path)`` give the result without Sphinx, for the tests.
"""
import bisect
import dataclasses
import pathlib
import re
from typing import List, Optional

from docutils import nodes
from docutils.parsers.rst import Parser as RstParser
from docutils.utils import new_document

__all__ = ["parse_header", "tree", "documented_names"]

# ---------------------------------------------------------------------------
# Scanning: comments, preprocessor lines and code


@dataclasses.dataclass
class Comment:
    first: int            # first line (1-based)
    last: int             # last line
    column: int           # column of the comment's start
    lines: List[str]      # the text, markers removed, indentation kept
    trailing: bool        # after code on its first line
    offset: int = 0       # position in the file
    end: int = 0          # end position
    public: bool = True   # not in a private section of a class

    @property
    def banner(self):
        """Boxed in lines of dashes: a section's title and introduction."""
        return bool(self.lines) and bool(re.fullmatch(r"\s*-{8,}\s*", self.lines[0]))


@dataclasses.dataclass
class Directive:
    first: int
    last: int
    text: str             # continuation lines joined, comments removed
    offset: int = 0
    end: int = 0


def _comment_lines(raw):
    """The text of a comment without its markers."""
    if raw.startswith("//"):
        body = raw[2:]
        return [body[1:] if body.startswith(" ") else body]
    body = raw[2:-2] if raw.endswith("*/") else raw[2:]
    out = []
    for k, line in enumerate(body.split("\n")):
        if k > 0:
            m = re.match(r"\s*\*(?!/)", line)
            line = line[m.end():] if m else line.strip()
        line = line[1:] if line.startswith(" ") else line
        out.append(line.rstrip())
    while out and not out[0].strip():
        out.pop(0)
    while out and not out[-1].strip():
        out.pop()
    return out


class Source:
    """A header split into code (comments and preprocessor lines blanked
    out, positions kept), its comments and its preprocessor lines."""

    def __init__(self, text):
        self.text = text
        self.starts = [0] + [m.end() for m in re.finditer("\n", text)]
        code = list(text)
        self.comments: List[Comment] = []
        self.directives: List[Directive] = []

        def blank(a, b):
            for k in range(a, b):
                if code[k] != "\n":
                    code[k] = " "

        def add_comment(a, b, trailing):
            raw = text[a:b]
            line = self.line(a)
            self.comments.append(Comment(line, self.line(b - 1), a - self.starts[line - 1],
                                         _comment_lines(raw), trailing, a, b))
            blank(a, b)

        n = len(text)
        i = 0
        at_line_start = True
        while i < n:
            c = text[i]
            if c == "\n":
                at_line_start = True
                i += 1
            elif text.startswith("//", i):
                j = text.find("\n", i)
                j = n if j < 0 else j
                add_comment(i, j, not at_line_start)
                i = j
            elif text.startswith("/*", i):
                j = text.find("*/", i + 2)
                j = n if j < 0 else j + 2
                add_comment(i, j, not at_line_start)
                at_line_start = False
                i = j
            elif c == "#" and at_line_start:
                j, parts = i, []
                while j < n and text[j] != "\n":
                    if text.startswith("\\\n", j):
                        parts.append(" ")
                        j += 2
                    elif text.startswith("//", j):
                        k = text.find("\n", j)
                        k = n if k < 0 else k
                        add_comment(j, k, True)
                        j = k
                    elif text.startswith("/*", j):
                        k = text.find("*/", j + 2)
                        k = n if k < 0 else k + 2
                        add_comment(j, k, True)
                        j = k
                    else:
                        parts.append(text[j])
                        j += 1
                self.directives.append(Directive(self.line(i), self.line(max(i, j - 1)),
                                                  " ".join("".join(parts).split()), i, j))
                blank(i, j)
                i = j
            elif c in "\"'":
                j = i + 1
                while j < n and text[j] != c:
                    j += 2 if text[j] == "\\" else 1
                at_line_start = False
                i = j + 1
            else:
                if not c.isspace():
                    at_line_start = False
                i += 1
        self.code = "".join(code)
        self._join_line_comments()

    def line(self, pos):
        return bisect.bisect_right(self.starts, pos)

    def _join_line_comments(self):
        """Consecutive // lines make one comment; a // line under a trailing
        comment, at its column, continues it."""
        joined: List[Comment] = []
        for c in sorted(self.comments, key=lambda c: c.offset):
            prev = joined[-1] if joined else None
            if (prev is not None and self.text[c.offset:c.offset + 2] == "//" and not c.trailing
                    and self.text[prev.offset:prev.offset + 2] == "//"
                    and c.first == prev.last + 1 and c.column == prev.column):
                prev.lines += c.lines
                prev.last = c.last
                prev.end = c.end
            else:
                joined.append(c)
        self.comments = joined


# ---------------------------------------------------------------------------
# Parsing: statements, declarations and scopes


@dataclasses.dataclass
class Decl:
    kind: str                     # function, macro, enum, enumerator, class, struct, union,
    #                               type, member, namespace, unknown
    name: Optional[str]
    signature: str                # for the domain's directive
    text: str                     # the declaration as written (for a literal block)
    first: int
    last: int
    offset: int = 0
    trailing: Optional[Comment] = None
    value: Optional[str] = None   # a macro's replacement text
    scoped: bool = False          # enum class
    scope: Optional["Scope"] = None  # members, enumerators, a namespace's contents
    public: bool = True

    @property
    def aggregate(self):
        return self.kind in ("class", "struct", "union", "enum", "namespace")


@dataclasses.dataclass
class Scope:
    items: list                   # Comment, Decl and Break, in order


@dataclasses.dataclass
class Break:
    """A line that separates declarations: a preprocessor line other than a
    #define, an access specifier (access: the one it sets)."""
    first: int
    last: int
    offset: int = 0
    access: Optional[str] = None


def _match(code, i, open_, close):
    depth = 0
    for k in range(i, len(code)):
        if code[k] == open_:
            depth += 1
        elif code[k] == close:
            depth -= 1
            if depth == 0:
                return k
    raise ValueError("unbalanced %s at %d" % (open_, i))


def _squash(text):
    return " ".join(text.split())


def _template_prefix(head):
    """('template <...>', rest) of a declaration's head."""
    m = re.match(r"\s*template\s*<", head)
    if not m:
        return "", head.strip()
    depth, k = 0, m.end() - 1
    for k in range(m.end() - 1, len(head)):
        if head[k] == "<":
            depth += 1
        elif head[k] == ">":
            depth -= 1
            if depth == 0:
                break
    return _squash(head[:k + 1]), head[k + 1:].strip()


def _top_level(text, chars):
    """Positions of the characters `chars` outside (), [], {} and <>."""
    depth, out = 0, []
    for k, c in enumerate(text):
        if c in "([{<":
            depth += 1
        elif c in ")]}>":
            depth -= 1
        elif depth == 0 and c in chars:
            out.append(k)
    return out


_NOT_A_NAME = {"decltype", "noexcept", "alignas", "sizeof", "alignof", "__attribute__",
               "static_assert"}


def _function_name(text):
    """(qualifier, name, position of the parameters' '(') of a function head."""
    for m in re.finditer(r"\(", text):
        before = text[:m.start()].rstrip()
        op = re.search(r"((?:[A-Za-z_]\w*(?:<[^()]*?>)?::)*)"            # qualifier
                       r"(operator\s*(?:\(\)|[^\s\w(]+)|~?[A-Za-z_]\w*)$", before)
        if op and op.group(2) not in _NOT_A_NAME:
            return op.group(1), _squash(op.group(2)), m.start()
    return "", None, -1


class Parser:
    def __init__(self, text, language):
        self.src = Source(text)
        self.language = language  # "c" or "cpp"

    def parse(self):
        code = self.src.code
        guard = None
        for k, d in enumerate(self.src.directives[:-1]):
            m = re.fullmatch(r"#\s*ifndef\s+(\w+)", d.text)
            nxt = re.fullmatch(r"#\s*define\s+(\w+)", self.src.directives[k + 1].text)
            if m and nxt and nxt.group(1) == m.group(1):
                guard = m.group(1)
                break
        self.guard = guard
        return self.scope(0, len(code), "namespace")

    # A scope is the text between two braces (or the file).
    def scope(self, start, stop, kind):
        code = self.src.code
        items = []
        spans = []
        access = "public" if kind in ("namespace", "struct", "union") else "private"
        i = start
        while True:
            while i < stop and code[i].isspace():
                i += 1
            if i >= stop:
                break
            m = re.match(r"(public|private|protected)\s*:(?!:)", code[i:stop])
            if m and kind in ("class", "struct", "union"):
                access = m.group(1)
                items.append(Break(self.src.line(i), self.src.line(i), i, access))
                spans.append((i, i + m.end()))
                i += m.end()
                continue
            end, head_end, body = self.statement(i, stop)
            spans.append((i, end))
            head = code[i:head_end]
            for d in self.declare(head, body, i, end, access):
                items.append(d)
            i = end
        # Comments and preprocessor lines of this scope: outside every statement.
        def outside(pos):
            return not any(a <= pos < b for a, b in spans)

        decls = [d for d in items if isinstance(d, Decl)]
        for c in self.src.comments:
            if not (start <= c.offset < stop) or not outside(c.offset):
                continue
            if c.trailing:
                owner = [d for d in decls if d.last == c.first and d.offset < c.offset]
                if owner and owner[-1].trailing is None:
                    owner[-1].trailing = c
                continue
            items.append(c)
        for d in self.src.directives:
            if not (start <= d.offset < stop) or not outside(d.offset):
                continue
            m = re.fullmatch(r"#\s*define\s+(\w+)(\([^)]*\))?\s*(.*)", d.text)
            if m and m.group(1) != self.guard:
                name, params, value = m.group(1), m.group(2), m.group(3)
                macro = Decl("macro", name, name + (params or ""), d.text, d.first, d.last,
                             d.offset, value=value or None, public=access == "public")
                for c in self.src.comments:
                    if c.trailing and c.first == d.last and d.offset < c.offset <= d.end + 1:
                        macro.trailing = c
                items.append(macro)
            else:
                items.append(Break(d.first, d.last, d.offset))
        items.sort(key=lambda it: it.offset)
        # A comment in a private section is not part of the interface.
        access = "public" if kind in ("namespace", "struct", "union") else "private"
        for it in items:
            if isinstance(it, Break) and it.access:
                access = it.access
            elif isinstance(it, Comment):
                it.public = access == "public"
        return Scope(items)

    def statement(self, i, stop):
        """(end, end of the head, body span or None) of the statement at i."""
        code = self.src.code
        depth = 0
        j = i
        while j < stop:
            c = code[j]
            if c in "([":
                depth += 1
            elif c in ")]":
                depth -= 1
            elif c == ";" and depth == 0:
                return j + 1, j, None
            elif c == "{" and depth == 0:
                close = _match(code, j, "{", "}")
                head = code[i:j]
                _, rest = _template_prefix(head)
                if re.match(r"(typedef\s+)?(class|struct|union|enum)\b", rest):
                    semi = code.find(";", close)
                    return semi + 1, j, (j + 1, close)
                return close + 1, j, (j + 1, close)
            j += 1
        return stop, stop, None

    def declare(self, head, body, offset, end, access):
        """The declarations of one statement."""
        src = self.src
        first, last = src.line(offset), src.line(end - 1)
        text = _squash(src.code[offset:end if body is None else body[0] - 1])
        public = access == "public"
        template, rest = _template_prefix(head)
        rest = _squash(rest)
        tpl = template + " " if template else ""

        def decl(kind, name, signature, **kw):
            return Decl(kind, name, signature, text if body is None else text + " { ... }",
                        first, last, offset, public=public, **kw)

        if not rest or rest.startswith("static_assert") or rest.startswith("friend "):
            return []
        m = re.match(r"namespace\s*(\w*)", rest)
        if m and body:
            return [decl("namespace", m.group(1), m.group(1),
                         scope=self.scope(body[0], body[1], "namespace"))]
        if re.match(r'extern\s*"C"', rest) and body:
            return self.scope(body[0], body[1], "namespace").items
        m = re.match(r"(?:typedef\s+)?struct\s+(\w+)$", rest)
        if m and body and self.language == "c":
            # A C struct: one entry, its fields shown as written.
            return [Decl("struct", m.group(1), m.group(1), src.text[offset:end], first, last,
                         offset, public=public)]
        m = re.match(r"(class|struct|union)\s+(?:\[\[.*?\]\]\s*)?(\w+)\s*(final\b)?"
                     r"\s*(?::(?!:)\s*(.*))?$", rest)
        if m:
            kind, name = m.group(1), m.group(2)
            if self.language == "c":
                return [decl("unknown", name, rest)]
            sig = (tpl + name + (" final" if m.group(3) else "")
                   + (" : " + m.group(4) if m.group(4) else ""))
            members = self.scope(body[0], body[1], kind) if body else Scope([])
            return [decl(kind, name, sig, scope=members)]
        m = re.match(r"enum\s+(class\s+|struct\s+)?(\w+)\s*(?::\s*(.*))?$", rest)
        if m and body:
            name = m.group(2)
            sig = name + (" : " + m.group(3) if m.group(3) else "")
            return [decl("enum", name, sig, scoped=bool(m.group(1)),
                         scope=self.enumerators(body, public))]
        m = re.match(r"using\s+(\w+)\s*=\s*(.*)$", rest)
        if m:
            return [decl("type", m.group(1), "%s%s = %s" % (tpl, m.group(1), m.group(2)))]
        if rest.startswith("using ") or rest.startswith("typedef "):
            return [decl("unknown", None, rest)]
        qual, name, paren = _function_name(rest)
        eq = [k for k in _top_level(rest, "=")   # an initialiser's '=', not an operator's
              if rest[k - 1:k] not in ("=", "!", "<", ">", "+", "-", "*", "/", "%", "&", "|", "^")
              and rest[k + 1:k + 2] != "="]
        if name and (not eq or paren < eq[0]):
            if qual:
                return []  # the definition of a member declared in its class
            close = _match(rest, paren, "(", ")")
            tail = rest[close + 1:]
            colon = re.search(r"(?<!:):(?!:)", tail)
            if colon and body:
                tail = tail[:colon.start()]  # a constructor's member initialisers
            sig = re.sub(r"^((?:\[\[[^\]]*\]\]\s*)*)inline\s+", r"\1", rest[:close + 1]) + tail
            return [decl("function", name, tpl + _squash(sig))]
        if body is None and self.language == "cpp":
            # Variables and data members; several declarators share the type.
            commas = _top_level(rest, ",")
            parts = [rest[a + 1:b] for a, b in zip([-1] + commas, commas + [len(rest)])]
            m = re.match(r"(.*?)(\b[A-Za-z_]\w*)\s*(\[[^\]]*\])?\s*(=.*|\{.*\})?$",
                         parts[0].strip())
            if m:
                out = [decl("member", m.group(2), tpl + _squash(parts[0]))]
                for p in parts[1:]:
                    n = re.match(r"\s*([A-Za-z_]\w*)", p)
                    out.append(decl("member", n.group(1) if n else None,
                                    _squash(m.group(1) + " " + p)))
                return out
        if body is None and self.language == "c":
            m = re.match(r"(.*?)(\b[A-Za-z_]\w*)\s*(\[[^\]]*\])?\s*(=.*)?$", rest)
            if m and rest.startswith("extern "):
                return [decl("member", m.group(2), rest)]
        return [decl("unknown", None, rest)]

    def enumerators(self, body, public):
        src = self.src
        a, b = body
        items = []
        k = a
        for pos in [p + a for p in _top_level(src.code[a:b], ",")] + [b]:
            part = src.code[k:pos]
            if part.strip():
                start = k + len(part) - len(part.lstrip())
                text = _squash(part)
                name = re.match(r"\w+", text).group(0)
                line = src.line(start)
                items.append(Decl("enumerator", name, text, text, line,
                                  src.line(start + len(part.strip()) - 1), start, public=public))
            k = pos + 1
        for c in src.comments:
            if a <= c.offset < b:
                if c.trailing:
                    owner = [e for e in items if e.last == c.first]
                    if owner:
                        owner[-1].trailing = c
                else:
                    items.append(c)
        items.sort(key=lambda it: it.offset)
        return Scope(items)


def parse_header(path, language=None):
    """The parsed header: (opening comment or None, top scope, parser)."""
    path = pathlib.Path(path)
    if language is None:
        language = "c" if path.suffix == ".h" else "cpp"
    text = path.read_text(encoding="utf-8")
    parser = Parser(text, language)
    top = parser.parse()
    intro = None
    if top.items and isinstance(top.items[0], Comment) and top.items[0].first == 1:
        intro = top.items.pop(0)
    return intro, top, parser


# ---------------------------------------------------------------------------
# Grouping: declarations and comments into entries


@dataclasses.dataclass
class Entry:
    decls: List[Decl]
    doc: Optional[Comment] = None
    section: Optional["Section"] = None   # documented by this section's introduction
    principal: Optional["Entry"] = None   # documented by the comment of this entry
    children: list = dataclasses.field(default_factory=list)

    @property
    def kind(self):
        return self.decls[0].kind


@dataclasses.dataclass
class Section:
    title: str
    intro: Comment
    children: list = dataclasses.field(default_factory=list)
    slug: str = ""


@dataclasses.dataclass
class Prose:
    comment: Comment


@dataclasses.dataclass
class Namespace:
    name: str
    children: list


def _adjacent(a, b):
    return a is not None and b.first == a.last + 1


def group(scope, language):
    """Entries, prose and sections of a scope's public part, in order."""
    out = []
    target = out          # where the next node goes: a section's children after its banner
    run: List[Decl] = []  # declarations on consecutive lines
    run_doc = None        # the comment right above the run
    run_section = None    # the section whose introduction documents the run
    pending = None        # a comment, until we know whether a declaration follows it
    section = None        # the section just opened, until another comment comes
    prev = None

    def close_run():
        nonlocal run, run_doc, run_section
        if run:
            target.extend(_entries(run, run_doc, language, run_section))
        run, run_doc, run_section = [], None, None

    def flush_pending():
        nonlocal pending
        if pending is not None:
            target.append(Prose(pending))
            pending = None

    for it in scope.items:
        if not getattr(it, "public", True):
            continue
        if isinstance(it, Comment):
            close_run()
            flush_pending()
            if it.banner:
                section = _section(it)
                out.append(section)
                target = section.children
            else:
                pending, section = it, None
        elif isinstance(it, Break):
            close_run()
            flush_pending()
        else:
            if pending is not None and _adjacent(pending, it):
                close_run()
                run_doc, pending = pending, None
            elif not (run and _adjacent(prev, it)):
                close_run()
                flush_pending()
                run_section = section
            run.append(it)
        prev = it
    close_run()
    flush_pending()
    for container in [out] + [s.children for s in out if isinstance(s, Section)]:
        _join_overloads(container)
    return out


def _section(comment):
    lines = [ln for ln in comment.lines if not re.fullmatch(r"\s*-{8,}\s*", ln)]
    while lines and not lines[0].strip():
        lines.pop(0)
    title = lines[0].strip().rstrip(".") if lines else "Section"
    rest = lines[1:]
    intro = dataclasses.replace(comment, lines=rest)
    return Section(title, intro)


def _entries(run, doc, language, section):
    """One run of declarations on consecutive lines, under one comment."""
    entries: List[Entry] = []
    for d in run:
        last = entries[-1] if entries else None
        joins = (last is not None and not d.aggregate and not last.decls[-1].aggregate
                 and last.kind == d.kind and d.kind != "unknown"
                 and (d.kind == "macro" if language == "c" else
                      d.trailing is None and last.decls[-1].trailing is None))
        if joins:
            last.decls.append(d)
        else:
            entries.append(Entry([d]))
    if doc is not None:
        # The comment is the contract of the run's function in C (constants
        # come before the function that takes them), else of its first entry;
        # it goes to the entries of the same kind, and the others point there.
        functions = [e for e in entries if e.kind == "function"]
        principal = functions[-1] if language == "c" and functions else entries[0]
        for e in entries:
            if e.kind == principal.kind:
                e.doc = doc
            else:
                e.principal = principal
    elif section is not None:
        for e in entries:
            e.section = section
    for e in entries:
        d = e.decls[0]
        if d.scope is not None and d.kind != "namespace":
            e.children = group(d.scope, language)
    return entries


def _join_overloads(container):
    """A function without a comment of its own joins the entry of the
    overloads just before it."""
    k = 1
    while k < len(container):
        e, prev = container[k], container[k - 1]
        if (isinstance(e, Entry) and isinstance(prev, Entry) and e.doc is None
                and e.section is None and e.kind == "function" and prev.kind == "function"
                and all(d.trailing is None for d in e.decls)
                and {d.name for d in e.decls} == {prev.decls[-1].name}):
            prev.decls.extend(e.decls)
            del container[k]
        else:
            k += 1


def tree(path, language=None):
    """The header as (introduction, nodes): entries, prose, sections and
    namespaces, with namespace detail reduced to what public declarations use."""
    intro, top, parser = parse_header(path, language)
    language = parser.language
    nodes_ = _tree(top, language)
    if language == "cpp":
        _keep_used_detail(nodes_)
    return intro, nodes_


def _tree(scope, language):
    out = []
    for n in group(scope, language):
        if isinstance(n, Entry) and n.kind == "namespace":
            for d in n.decls:
                out.append(Namespace(d.name, _tree(d.scope, language)))
        else:
            out.append(n)
    return out


def _walk(nodes_):
    for n in nodes_:
        yield n
        if isinstance(n, (Entry, Section, Namespace)):
            yield from _walk(n.children)


def _signatures(n):
    for m in _walk([n]):
        if isinstance(m, Entry):
            for d in m.decls:
                yield d.signature


def _keep_used_detail(nodes_):
    """Keeps in namespace detail only the entries whose names the rest of
    the header's declarations use."""
    details = [n for n in _walk(nodes_) if isinstance(n, Namespace) and n.name == "detail"]
    candidates = {}
    for ns in details:
        for n in ns.children:
            if isinstance(n, Entry):
                for d in n.decls:
                    if d.name:
                        candidates.setdefault(d.name, []).append(n)
    public_text = []

    def collect(ns_list):
        for n in ns_list:
            if isinstance(n, Namespace):
                if n.name != "detail":
                    collect(n.children)
            elif isinstance(n, (Entry, Section)):
                public_text.extend(_signatures(n))
    collect(nodes_)
    used = set()
    frontier = set(re.findall(r"\bdetail::(\w+)", " ".join(public_text)))
    while frontier - used:
        new = frontier - used
        used |= new
        text = " ".join(s for name in new for e in candidates.get(name, []) for s in _signatures(e))
        frontier |= {w for w in re.findall(r"\b\w+\b", text) if w in candidates}
    for ns in details:
        ns.children = [n for n in ns.children
                       if isinstance(n, Entry) and any(d.name in used for d in n.decls)]


def documented_names(path, language=None):
    """Every name the rendered page gives an entry (qualified in C++)."""
    intro, nodes_ = tree(path, language)
    out = []

    def visit(ns, prefix):
        for n in ns:
            if isinstance(n, Namespace):
                visit(n.children, prefix + [n.name])
            elif isinstance(n, Section):
                visit(n.children, prefix)
            elif isinstance(n, Entry):
                for d in n.decls:
                    if d.name:
                        out.append("::".join(prefix + [d.name]))
                    scoped = n.kind in ("class", "struct", "union") or (
                        n.kind == "enum" and d.scoped)
                    visit(n.children, prefix + [d.name] if scoped else prefix)
    visit(nodes_, [])
    return out


# ---------------------------------------------------------------------------
# Rendering: comments into docutils nodes, entries into the domain's directives


_TOKEN = re.compile(r"`([^`\n]+)`|([A-Za-z_]\w*(?:::[A-Za-z_]\w*)*)")


class Linker:
    """Turns the names of documented declarations in comment text into
    cross-references: those with an underscore or a capital letter, which
    are not ordinary words."""

    def __init__(self):
        self.targets = {}   # name as written -> (domain, role, target)

    def add(self, name, domain, role, target):
        if re.search(r"[A-Z_]", name):
            self.targets.setdefault(name, (domain, role, target))

    def inline(self, text, skip=()):
        from sphinx import addnodes
        out = []
        pos = 0
        for m in _TOKEN.finditer(text):
            if m.group(1) is not None:
                out.append(nodes.Text(text[pos:m.start()]))
                out.append(nodes.literal(m.group(1), m.group(1)))
                pos = m.end()
                continue
            word = m.group(2)
            if word not in self.targets or word.rsplit("::", 1)[-1] in skip:
                continue
            domain, role, target = self.targets[word]
            out.append(nodes.Text(text[pos:m.start()]))
            ref = addnodes.pending_xref("", refdomain=domain, reftype=role, reftarget=target,
                                        refexplicit=False, refwarn=True)
            ref += nodes.literal(word, word, classes=["xref", domain, "%s-%s" % (domain, role)])
            out.append(ref)
            pos = m.end()
        out.append(nodes.Text(text[pos:]))
        return [n for n in out if not (isinstance(n, nodes.Text) and not n.astext())]


def comment_nodes(lines, linker, language="none", skip=()):
    """Paragraphs of a comment's text; lines indented deeper than its text
    (tables, code) as literal blocks."""
    text_lines = [ln for ln in lines if ln.strip()]
    if not text_lines:
        return []
    base = min(len(ln) - len(ln.lstrip()) for ln in text_lines)
    out, para, lit = [], [], []

    def end_para():
        if para:
            p = nodes.paragraph()
            p["support_smartquotes"] = False  # the header's text as written: '...', quotes
            p.extend(linker.inline(" ".join(s.strip() for s in para), skip))
            out.append(p)
            para.clear()

    def end_lit():
        if lit:
            while lit and not lit[-1].strip():
                lit.pop()
            indent = min(len(s) - len(s.lstrip()) for s in lit if s.strip())
            body = "\n".join(s[indent:] for s in lit)
            block = nodes.literal_block(body, body)
            code = re.search(r"::|;\s*($|//)", body, re.M)  # code rather than a table
            block["language"] = language if code else "none"
            out.append(block)
            lit.clear()

    for ln in lines:
        if not ln.strip():
            end_para()
            if lit:
                lit.append("")
            continue
        indent = len(ln) - len(ln.lstrip())
        if indent > base:
            end_para()
            lit.append(ln)
        else:
            end_lit()
            para.append(ln)
    end_para()
    end_lit()
    return out


def _table(rows, header):
    table = nodes.table(classes=["headerdoc-values"])
    table["support_smartquotes"] = False
    group_ = nodes.tgroup(cols=len(header))
    table += group_
    for _ in header:
        group_ += nodes.colspec(colwidth=1)
    thead = nodes.thead()
    group_ += thead
    row = nodes.row()
    for h in header:
        row += nodes.entry("", nodes.paragraph(h, h))
    thead += row
    tbody = nodes.tbody()
    group_ += tbody
    for cells in rows:
        row = nodes.row()
        for cell in cells:
            entry = nodes.entry()
            if isinstance(cell, list):
                entry += nodes.paragraph("", "", *cell)
            else:
                entry += nodes.paragraph("", "", nodes.literal(cell, cell))
            row += entry
        tbody += row
    return table


_DIRECTIVE = {
    "c": {"function": "c:function", "macro": "c:macro", "enum": "c:enum",
          "enumerator": "c:enumerator", "member": "c:var", "type": "c:type",
          "struct": "c:struct"},
    "cpp": {"function": "cpp:function", "class": "cpp:class", "struct": "cpp:struct",
            "union": "cpp:union", "type": "cpp:type", "member": "cpp:member",
            "enumerator": "cpp:enumerator"},
}
_ROLE = {"function": "func", "macro": "macro", "enum": "enum", "enumerator": "enumerator",
         "member": "member", "type": "type", "class": "class", "struct": "class",
         "union": "class"}
_OBJTYPE = {"cpp:class": ("class", "class"), "cpp:struct": ("class", "struct"),
            "cpp:union": ("union", "union"), "cpp:function": ("function", "function"),
            "cpp:member": ("member", "member"), "cpp:type": ("type", "type"),
            "cpp:enum": ("enum", "enum"), "cpp:enum-class": ("enum", "enum-class"),
            "cpp:enumerator": ("enumerator", "enumerator"),
            "c:function": ("function", "function"), "c:macro": ("macro", "macro"),
            "c:enum": ("enum", "enum"), "c:enumerator": ("enumerator", "enumerator"),
            "c:var": ("member", "var"), "c:type": ("type", "type"),
            "c:struct": ("struct", "struct")}


def directive_name(language, decl):
    if decl.kind == "enum" and language == "cpp":
        return "cpp:enum-class" if decl.scoped else "cpp:enum"
    return _DIRECTIVE[language].get(decl.kind)


def parses(directive, signature, config):
    """Whether Sphinx's domain parses the signature."""
    from sphinx.util.cfamily import DefinitionError
    if directive is None:
        return False
    if directive.startswith("cpp:"):
        from sphinx.domains.cpp import DefinitionParser
    else:
        from sphinx.domains.c import DefinitionParser
    objtype, dirtype = _OBJTYPE[directive]
    try:
        parser = DefinitionParser(signature, location=None, config=config)
        parser.parse_declaration(objtype, dirtype)
        parser.skip_ws()
        parser.assert_end()
    except DefinitionError:
        return False
    return True


class Renderer:
    """Writes the entries as reStructuredText of the domain's directives;
    the bodies, made as nodes, come in through the headerdoc-nodes
    directive."""

    def __init__(self, language, linker, config, store, prefix):
        self.language = language
        self.linker = linker
        self.config = config
        self.store = store
        self.prefix = prefix
        self.lines = []
        self.fallbacks = {}

    def nodes(self, items, indent):
        if not items:
            return
        key = "%s#%d" % (self.prefix, len(self.lines))
        self.store[key] = items
        self.lines += ["", " " * indent + ".. headerdoc-nodes:: " + key, ""]

    def comment(self, comment, skip=()):
        return comment_nodes(comment.lines, self.linker, self.language, skip)

    def render(self, intro, tree_):
        if intro is not None:
            self.nodes(self.comment(intro), 0)
        self.children(tree_, 0, [])

    def children(self, items, indent, scope):
        for n in items:
            if isinstance(n, Prose):
                self.nodes(self.comment(n.comment), indent)
            elif isinstance(n, Section):
                title = n.title
                self.lines += ["", title, "~" * (len(title) + 4), ""]
                self.nodes(self.comment(n.intro), indent)
                self.children(n.children, indent, scope)
            elif isinstance(n, Namespace):
                if not n.children:
                    continue
                self.lines += ["", " " * indent + ".. cpp:namespace-push:: " + n.name, ""]
                self.children(n.children, indent, scope + [n.name])
                self.lines += ["", " " * indent + ".. cpp:namespace-pop::", ""]
            else:
                self.entry(n, indent, scope)

    def entry(self, e, indent, scope):
        names = [d.name for d in e.decls if d.name]
        directive = directive_name(self.language, e.decls[0])
        ok = all(parses(directive, d.signature, self.config) for d in e.decls)
        pad = " " * indent
        if ok:
            head = ".. %s:: " % directive
            self.lines.append("")
            self.lines.append(pad + head + e.decls[0].signature)
            for d in e.decls[1:]:
                self.lines.append(pad + " " * len(head) + d.signature)
            self.lines.append("")
            inner = indent + 3
        else:
            inner = indent
            block = nodes.literal_block("", "\n".join(d.text for d in e.decls))
            block["language"] = "none"
            box = nodes.container(classes=["headerdoc-fallback"])
            box["ids"] = [self.fallback_id(scope + [n]) for n in names]
            box += block
        body = []
        if e.doc is not None:
            body += self.comment(e.doc, skip=names)
        elif e.principal is not None:
            other = e.principal.decls[0]
            where = "below" if other.offset > e.decls[0].offset else "above"
            p = nodes.paragraph()
            p += nodes.Text("See ")
            p += (self.linker.inline(other.name) if other.name in self.linker.targets
                  else nodes.literal(other.name, other.name))
            p += nodes.Text(", %s." % where)
            body.append(p)
        elif e.section is not None:
            p = nodes.paragraph()
            ref = nodes.reference("", "", internal=True, refid=self.section_id(e.section))
            ref += nodes.Text(e.section.title)
            p += [nodes.Text("See the introduction of "), ref, nodes.Text(", above.")]
            body.append(p)
        if e.kind == "macro":
            if len(e.decls) == 1 and not e.decls[0].trailing:
                d = e.decls[0]
                if d.value is not None:
                    body.append(nodes.paragraph("", "", nodes.Text("Defined as "),
                                                nodes.literal(d.value, d.value), nodes.Text(".")))
            else:
                meaning = any(d.trailing for d in e.decls)
                rows = []
                for d in e.decls:
                    row = [d.name, d.value or ""]
                    if meaning:
                        row.append(self.linker.inline(" ".join(
                            s.strip() for s in d.trailing.lines)) if d.trailing else [])
                    rows.append(row)
                body.append(_table(rows, ["Name", "Value"] + (["Meaning"] if meaning else [])))
        else:
            for d in e.decls:
                if d.trailing is not None:
                    body += self.comment(d.trailing, skip=names)
        if e.kind == "struct" and self.language == "c":
            for d in e.decls:
                block = nodes.literal_block(d.text, d.text)
                block["language"] = "c"
                body.append(block)
        if ok:
            self.nodes(body, inner)
        else:
            box += body
            self.nodes([box], indent)
        if ok:
            self.children(e.children, inner, scope + names[:1])
        else:
            self.fallback_children(e.children, inner)

    def fallback_id(self, qualified):
        """headerdoc-bsbasis-name, then -2, -3 ... for its overloads."""
        base = "headerdoc-" + "-".join(qualified).replace("_", "-").lower()
        self.fallbacks[base] = self.fallbacks.get(base, 0) + 1
        return base if self.fallbacks[base] == 1 else "%s-%d" % (base, self.fallbacks[base])

    def fallback_children(self, items, indent):
        for n in _walk(items):
            if isinstance(n, Entry):
                block = nodes.literal_block("", "\n".join(d.text for d in n.decls))
                block["language"] = "none"
                self.nodes([block] + ([] if n.doc is None else self.comment(n.doc)), indent)

    def section_id(self, section):
        if not section.slug:
            section.slug = nodes.make_id(section.title)
        return section.slug


def _link_targets(linker, intro_tree, language, path, config, seen=None):
    """Registers every documented name of a header, and of the local headers
    it includes, with the linker; returns the paths of those headers."""
    seen = set() if seen is None else seen
    path = pathlib.Path(path).resolve()
    if path in seen:
        return seen
    seen.add(path)
    text = path.read_text(encoding="utf-8")
    for inc in re.findall(r'^\s*#\s*include\s+"([^"]+)"', text, re.M):
        other = path.parent / inc
        if other.exists():
            lang = "c" if other.suffix == ".h" else "cpp"
            _link_targets(linker, tree(other, lang), lang, other, config, seen)
    _, nodes_ = intro_tree

    def visit(ns, prefix):
        for n in ns:
            if isinstance(n, Namespace):
                visit(n.children, prefix + [n.name])
            elif isinstance(n, Section):
                visit(n.children, prefix)
            elif isinstance(n, Entry):
                directive = directive_name(language, n.decls[0])
                for d in n.decls:
                    if not d.name or not parses(directive, d.signature, config):
                        continue
                    qualified = "::".join(prefix + [d.name])
                    role = "struct" if language == "c" and d.kind == "struct" else \
                        _ROLE.get(d.kind)
                    if role is None:
                        continue
                    if language == "c":
                        linker.add(d.name, "c", role, d.name)
                    elif prefix and "detail" not in prefix and (
                            len(prefix) == 1 or d.kind == "enumerator"):
                        # A name of the namespace, or an enumerator as Enum::Name,
                        # with and without the namespace.
                        linker.add("::".join(prefix[1:] + [d.name]), "cpp", role, qualified)
                        linker.add(qualified, "cpp", role, qualified)
                if n.kind == "enum" and language == "cpp" and n.decls[0].scoped:
                    visit(n.children, prefix + [n.decls[0].name])
    visit(nodes_, [])
    return seen


class _Config:
    """The settings the domains' parsers read, at their defaults: for
    rendering outside a Sphinx build (the tests)."""
    c_id_attributes = []
    c_paren_attributes = []
    c_extra_keywords = ["alignas", "alignof", "bool", "complex", "imaginary", "noreturn",
                        "static_assert", "thread_local"]
    cpp_id_attributes = []
    cpp_paren_attributes = []


# ---------------------------------------------------------------------------
# The directives


def setup(app):
    from sphinx.util.docutils import SphinxDirective

    class HeaderNodes(SphinxDirective):
        """The nodes of one body, made by the header directives."""
        required_arguments = 1

        def run(self):
            return self.env.temp_data.setdefault("headerdoc", {}).pop(self.arguments[0], [])

    class Header(SphinxDirective):
        required_arguments = 1
        language = "c"

        def run(self):
            root = pathlib.Path(self.env.srcdir).parent
            path = root / self.arguments[0]
            self.env.note_dependency(str(path))
            intro_tree = tree(path, self.language)
            linker = Linker()
            for header in _link_targets(linker, intro_tree, self.language, path, self.config):
                self.env.note_dependency(str(header))
            store = self.env.temp_data.setdefault("headerdoc", {})
            renderer = Renderer(self.language, linker, self.config, store, self.arguments[0])
            renderer.render(*intro_tree)
            return self.parse_rst("\n".join(renderer.lines))

        def parse_rst(self, text):
            main = self.state.document
            doc = new_document(main["source"], main.settings)
            doc.reporter = main.reporter
            RstParser().parse(text, doc)
            # Messages about the generated text point at this directive.
            for node in doc.findall(nodes.Element):
                node.source, node.line = main["source"], self.lineno
            for section in doc.findall(nodes.section):
                slug = nodes.make_id(section[0].astext())
                section["ids"] = [slug]
            for node in doc.findall(nodes.Element):
                for i in node.get("ids", []):
                    main.ids.setdefault(i, node)
            return list(doc.children)

    class CHeader(Header):
        language = "c"

    class CppHeader(Header):
        language = "cpp"

    app.add_directive("headerdoc-nodes", HeaderNodes)
    app.add_directive("c-header", CHeader)
    app.add_directive("cpp-header", CppHeader)
    return {"version": "1", "parallel_read_safe": True, "parallel_write_safe": True}
