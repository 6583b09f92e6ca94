// The settings tree as every test writes it out, so that two trees compare as two lists of lines:
// the modelled registry's, the probe's dump of the real one, and what a test expects.
//   KEY                 a key: its path below the settings key, "." for the settings key itself
//                       (a key elsewhere keeps its path below HKEY_LOCAL_MACHINE)
//   KEY|NAME|TYPE|DATA  a value: its registry type number and its bytes (see EscapeBytes)
#ifndef CONFIGTOOL_DRIVER_SETTINGS_TREE_H
#define CONFIGTOOL_DRIVER_SETTINGS_TREE_H

#include <stdint.h>

#include <string>
#include <vector>

typedef std::vector<std::string> TreeLines;

// Printable ASCII as it is, every other byte and '\' and '|' as \xNN.
std::string EscapeBytes(const std::string& bytes);

// The tree's name for a key path below HKEY_LOCAL_MACHINE.
std::string TreePath(const std::string& path);

// A value line; `key` as TreePath gives it.
std::string TreeValue(const std::string& key, const std::string& name, uint32_t type,
                      const std::string& data);

// Sorted, each line once.
TreeLines SortedTree(TreeLines lines);

#endif
