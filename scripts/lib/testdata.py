"""Test data for the benchmarks and the fuzzers' seeds, imported by their
Python parts (run with PYTHONPATH=scripts/lib).

text_maker(rnd, words, longest) draws a vocabulary of `words` made-up words
of 2 to `longest` letters from the random.Random `rnd`, and returns text(n):
n bytes of those words, drawn from `rnd` and joined by blanks. It compresses
about as prose does, and the same seed gives the same bytes."""

LETTERS = b"abcdefghijklmnopqrstuvwxyz"


def text_maker(rnd, words=5000, longest=9):
    vocabulary = [bytes(rnd.choice(LETTERS) for _ in range(rnd.randint(2, longest))) for _ in range(words)]

    def text(n):
        out, size = [], 0
        while size < n:
            word = rnd.choice(vocabulary)
            out.append(word)
            size += len(word) + 1
        return b" ".join(out)[:n]

    return text
