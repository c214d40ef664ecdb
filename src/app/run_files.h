#pragma once

#include <string>
#include <vector>

// One file a run reads or writes, with the words that name it in a message ("--trace x.csv",
// "the input Terrain.txt").
struct RunFile {
    std::string path;
    std::string name;
};

// Whether two paths are one file: by device and inode where they exist (so symbolic and hard links
// count), by their resolved names where they do not exist yet.
bool sameFile(const std::string& a, const std::string& b);

// Refuses an output that is one of the inputs or another output: writing it would destroy what
// the run reads, or two outputs would mix in one file. False with error set to one line naming both.
bool checkOutputsAgainstInputs(const std::vector<RunFile>& outputs, const std::vector<RunFile>& inputs,
                               std::string& error);

// The files a run in the current folder reads: the data files, the ball pictures, the sounds and
// every image TerrainTextures.txt lists (as far as the list can be read; its faults are reported
// when it is read for real).
std::vector<RunFile> dataFolderInputs();
