"""Settings every suite shares: Hypothesis keeps no database in the tree and sets no deadline,
since the same examples run many times slower under the sanitizers."""

from hypothesis import settings

settings.register_profile("tzcumfun", database=None, deadline=None)
settings.load_profile("tzcumfun")
