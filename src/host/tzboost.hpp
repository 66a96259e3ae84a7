// Boost's exception bases and intrusive handle, compiled under the host's namespace `tzboost`.
#pragma once

// The host ships Boost renamed to `tzboost`, so that its exception bases never clash with a
// Boost the embedding process may load. Debian's headers are renamed the same way here; every
// Boost header of the library and the stand-in host is included through this file. The user
// configuration header is named as a string so that the renaming cannot touch its path.
#ifndef BOOST_USER_CONFIG
#define BOOST_USER_CONFIG "boost/config/user.hpp"
#endif
#define boost tzboost
#include <boost/exception/exception.hpp>
#include <boost/intrusive_ptr.hpp>
#undef boost
