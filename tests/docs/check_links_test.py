"""The link checker on pages written for it: what it must find and what it must let through."""

import tempfile
import textwrap
import unittest
from pathlib import Path

import check_links


class CheckLinksTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = Path(self.folder.name)
        (self.root / "docs").mkdir()
        (self.root / "LICENSE").write_text("text\n")
        self.write("docs/guide.md", """\
            # Guide

            ## OSC over TCP

            ## Settings: `inputChannels` & more

            ## Settings

            ### `zandorexSendPort`

            ## Settings

                ## An indented heading is code, not an anchor
            """)

    def tearDown(self):
        self.folder.cleanup()

    def write(self, name, text):
        path = self.root / name
        path.write_text(textwrap.dedent(text))
        return path

    def problems(self, name):
        return [(line, target, reason)
                for line, target, reason in check_links.broken_links(self.root / name)]

    def test_links_that_resolve_pass(self):
        self.write("README.md", """\
            See [the guide](docs/guide.md), [TCP](docs/guide.md#osc-over-tcp),
            [the channels](docs/guide.md#settings-inputchannels--more),
            [the second settings](docs/guide.md#settings-1), [a key](docs/guide.md#zandorexsendport),
            ![a picture](LICENSE), [the top](#readme) and [the web](https://example.org/x#y).

            # README
            """)
        self.assertEqual(self.problems("README.md"), [])

    def test_missing_files_and_anchors_are_named_with_their_lines(self):
        self.write("README.md", """\
            [gone](docs/gone.md) and [fine](docs/guide.md)
            [no such heading](docs/guide.md#osc-over-udp)
            [code only](docs/guide.md#an-indented-heading-is-code-not-an-anchor)
            [nor here](#nowhere)
            """)
        self.assertEqual(self.problems("README.md"), [
            (1, "docs/gone.md", "no such file"),
            (2, "docs/guide.md#osc-over-udp", "no heading with the anchor #osc-over-udp"),
            (3, "docs/guide.md#an-indented-heading-is-code-not-an-anchor",
             "no heading with the anchor #an-indented-heading-is-code-not-an-anchor"),
            (4, "#nowhere", "no heading with the anchor #nowhere"),
        ])

    def test_links_are_relative_to_their_own_page(self):
        self.write("docs/other.md", """\
            [back](../LICENSE), [beside](guide.md#settings), [wrong](docs/guide.md)
            """)
        self.assertEqual(self.problems("docs/other.md"), [(1, "docs/guide.md", "no such file")])

    def test_code_is_not_read_for_links(self):
        self.write("README.md", """\
            `[not a link](gone.md)` in a code span

                [nor this](gone.md) in an indented block

            ```
            [nor this](gone.md) in a fence
            ```
            """)
        self.assertEqual(self.problems("README.md"), [])

    def test_the_command_fails_only_on_a_broken_link(self):
        good = self.write("good.md", "[fine](LICENSE)\n")
        bad = self.write("bad.md", "[gone](nothing.md)\n")
        self.assertEqual(check_links.main([str(good)]), 0)
        self.assertEqual(check_links.main([str(good), str(bad)]), 1)


if __name__ == "__main__":
    unittest.main()
