"""The link checker on pages broken on purpose: what it must find and what it must let through."""

import tempfile, textwrap, unittest
from pathlib import Path

import check_doc_links

PAGES = {
    "docs/guide.md": """\
        # Guide
        ## OSC over TCP
        ## Settings: `inputChannels` & more
        ## Settings
        ### `zandorexSendPort`
        ## Settings

            ## An indented heading is code, not an anchor
        """,
    "README.md": """\
        [ok](docs/guide.md), [ok](docs/guide.md#osc-over-tcp), [ok](docs/guide.md#settings-1),
        [ok](docs/guide.md#settings-inputchannels--more), [ok](docs/guide.md#zandorexsendport),
        ![ok](README.md), [ok](#readme), [ok](https://example.org/x#y), `[code](gone.md)`
        [gone](docs/gone.md) and [no heading](docs/guide.md#osc-over-udp)
        [code only](docs/guide.md#an-indented-heading-is-code-not-an-anchor) [nor here](#nowhere)

            [indented code](gone.md)

        ```
        [fenced code](gone.md)
        ```
        # README
        """,
    "docs/other.md": "[ok](../README.md), [ok](guide.md#settings), [wrong](docs/guide.md)\n",
}


class CheckLinksTest(unittest.TestCase):
    def test_broken_links_are_named_with_their_lines_and_nothing_else(self):
        with tempfile.TemporaryDirectory() as folder:
            root = Path(folder)
            for name, text in PAGES.items():
                (root / name).parent.mkdir(exist_ok=True)
                (root / name).write_text(textwrap.dedent(text))
            found = [(line, target) for line, target, _ in
                     check_doc_links.broken_links(root / "README.md")]
            self.assertEqual(found, [(4, "docs/gone.md"), (4, "docs/guide.md#osc-over-udp"), (5, (
                "docs/guide.md#an-indented-heading-is-code-not-an-anchor")), (5, "#nowhere")])
            self.assertEqual(check_doc_links.broken_links(root / "docs/other.md"),
                             [(1, "docs/guide.md", "no such file")])
            self.assertEqual([check_doc_links.main([str(root / page)]) for page in PAGES], [0, 1, 1])
