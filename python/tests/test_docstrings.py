"""Every public name passes numpydoc's docstring validator, and has the
sections a user looks for.  The names are those of test_examples.py."""
import inspect

import pytest

numpydoc_validate = pytest.importorskip("numpydoc.validate")

from test_examples import PUBLIC_NAMES  # noqa: E402

# The validator's checks that this package does not follow.
IGNORED = {
    "GL01",  # the summary starts on the line of the opening quotes
    "ES01",  # an extended summary is optional
    "SA04",  # a See Also entry without description; SA03 catches the badly written ones
    "RT02",  # a Returns entry names the type alone, or name : type when that helps
}


def errors(name):
    result = numpydoc_validate.validate(name)
    return [(code, message) for code, message in result["errors"] if code not in IGNORED]


def needs_returns(obj):
    """Functions and methods return something worth a Returns section;
    classes and properties are described by their summary."""
    return not (inspect.isclass(obj) or isinstance(obj, property))


@pytest.mark.parametrize("name, obj", PUBLIC_NAMES, ids=[n for n, _ in PUBLIC_NAMES])
def test_numpydoc_validation(name, obj):
    found = errors(name)
    assert not found, "%s:\n%s" % (name, "\n".join("%s %s" % e for e in found))


@pytest.mark.parametrize("name, obj", PUBLIC_NAMES, ids=[n for n, _ in PUBLIC_NAMES])
def test_the_sections_are_there(name, obj):
    doc = inspect.getdoc(obj.fget if isinstance(obj, property) else obj)
    assert doc, "%s has no docstring" % name
    sections = ["See Also", "Examples"]
    if needs_returns(obj):
        sections.append("Yields" if inspect.isgeneratorfunction(obj) else "Returns")
    for section in sections:
        assert "\n%s\n%s\n" % (section, "-" * len(section)) in doc, (name, section)


def test_the_validator_sees_a_missing_section():
    """The check above fails where it should: a docstring without See Also."""
    def documented(x):
        """Return x.

        Parameters
        ----------
        x : float
            A value.

        Returns
        -------
        float
            The value.

        Examples
        --------
        >>> documented(1.0)
        1.0
        """
        return x
    import sys
    module = sys.modules[__name__]
    module.documented = documented
    try:
        codes = [code for code, _ in errors("%s.documented" % __name__)]
    finally:
        del module.documented
    assert codes == ["SA01"]
