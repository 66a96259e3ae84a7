"""Hypothesis settings for the tzcumfun suite: no example database left in the working tree."""

from hypothesis import settings

settings.register_profile("tzcumfun", database=None, deadline=None)
settings.load_profile("tzcumfun")
