#include "render/Shader.h"

#include <sys/stat.h>
#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <iostream>

#include "engine/Debug.h"
#include "engine/File.h"
#include "render/ShaderPass.h"
#include "render/ShaderVariant.h"
#include "sanegl/SaneGL.h"

namespace KestorEngine {

const std::string DefaultPass = "Deferred";
Shader* Shader::ErrorShader = nullptr;

namespace {

int64_t ClockTicks() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

UniformTypes DeclaredType(const std::string& element) {
  if (element == "Texture") return TypeTexture;
  if (element == "Vector2") return TypeVector2;
  if (element == "Vector3") return TypeVector3;
  if (element == "Vector4") return TypeVector4;
  return TypeFloat;
}

std::string LineOf(const tinyxml2::XMLElement* element) {
  return "line " + std::to_string(element->GetLineNum()) + ": ";
}

}  // namespace

Shader::Shader() = default;

Shader::Shader(std::string name) { Load(name); }

Shader::~Shader() {
  DestroyPasses();
  std::cout << "Dleting Self" << Name << "\n";
  std::cout << "Done!" << Name << "\n";
  if (ErrorShader == this) ErrorShader = nullptr;
}

void Shader::Load(const std::string& name) {
  std::cout << "filename" << File::AssetsPath << "\n";
  std::cout << "filename" << "Shaders" << "\n";
  std::cout << "filename" << File::PathSeparator << "\n";
  std::cout << "filename" << name << "\n";
  std::cout << "filename" << ".shader" << "\n";
  Filename = File::Find("Shaders", name + ".shader");
  std::cout << "Filename: " << Filename << "\n";
  Reload();
  std::cout << Name;
}

void Shader::LoadFromSource(const std::string& text) {
  Filename = "";
  Source = text;
  std::cout << text;
  Reload();
  std::cout << Name;
}

void Shader::DestroyPasses() {
  for (auto& pass : Passes) delete pass.second;
  Passes.clear();
}

void Shader::Report(const std::string& problem) const {
  Debug::Log((Filename.empty() ? std::string("Shader from source") : Filename) + ": " + problem +
             "\n");
}

bool Shader::FileTime(int64_t& nanoseconds, int64_t& size) const {
  if (Filename.empty()) return false;
  struct stat status;
  if (stat(Filename.c_str(), &status) != 0) return false;
  nanoseconds = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
  size = static_cast<int64_t>(status.st_size);
  return true;
}

void Shader::Reload() {
  DestroyPasses();
  Uniforms.clear();
  ReportedMissing.clear();
  int64_t modified = 0, size = 0;
  if (FileTime(modified, size)) {
    LastModified = modified;
    LastSize = size;
  }

  tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  tinyxml2::XMLError status = Filename.empty() ? document.Parse(Source.c_str(), Source.size())
                                               : document.LoadFile(Filename.c_str());
  if (status != tinyxml2::XML_SUCCESS) {
    std::string reason = document.ErrorName();
    if (document.ErrorLineNum() > 0) reason += " at line " + std::to_string(document.ErrorLineNum());
    Report("cannot read the shader (" + reason + "), it has no passes");
    return;
  }
  ParseDocument(document);
}

bool Shader::ParseDocument(tinyxml2::XMLDocument& document) {
  const tinyxml2::XMLElement* shader = document.FirstChildElement("Shader");
  if (shader == nullptr) {
    Report("no \"Shader\" element, the shader has no passes");
    return false;
  }
  const char* name = shader->Attribute("Name");
  if (name == nullptr) {
    // Messages still need something to call the shader by.
    Name = Filename;
    Report("the \"Shader\" element has no \"Name\" attribute, the shader has no passes");
    return false;
  }
  Name = name;
  const tinyxml2::XMLElement* uniforms = shader->FirstChildElement("Uniforms");
  if (uniforms == nullptr) {
    Report("no \"Uniforms\" element in \"Shader\", the shader has no passes");
    return false;
  }
  ReadUniforms(uniforms);

  const tinyxml2::XMLElement* passes = shader->FirstChildElement("Passes");
  if (passes == nullptr) {
    std::cout << Name << "Yeah the shader doesn't have a passes section...XD";
    return true;
  }
  ReadPasses(passes);
  return true;
}

void Shader::ReadUniforms(const tinyxml2::XMLElement* uniforms) {
  for (const tinyxml2::XMLElement* element = uniforms->FirstChildElement(); element != nullptr;
       element = element->NextSiblingElement()) {
    std::cout << element->Name();
    const char* uniformName = element->Attribute("Uniform");
    if (uniformName == nullptr) {
      Report(LineOf(element) + "uniform declaration <" + element->Name() +
             "> has no \"Uniform\" attribute, skipped");
      continue;
    }
    ShaderUniform declared(DeclaredType(element->Name()));
    declared.SetUniformName(uniformName);
    // Read for compatibility with existing files; colour-space handling is
    // the texture's business.
    std::string isLinear = element->Attribute("IsLinear") != nullptr ? element->Attribute("IsLinear")
                                                                      : "";
    std::transform(isLinear.begin(), isLinear.end(), isLinear.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    Uniforms.insert_or_assign(declared.Name, std::move(declared));
  }
}

void Shader::ReadPasses(const tinyxml2::XMLElement* passes) {
  for (const tinyxml2::XMLElement* element = passes->FirstChildElement(); element != nullptr;
       element = element->NextSiblingElement()) {
    const char* attribute = element->Attribute("Name");
    if (attribute == nullptr) {
      Report(LineOf(element) + "pass <" + element->Name() + "> has no \"Name\" attribute, skipped");
      continue;
    }
    std::string passName = attribute;
    if (Passes.count(passName) != 0) {
      Report(LineOf(element) + "pass \"" + passName + "\" is named twice, the later one skipped");
      continue;
    }

    // Stages by the number of children: compute; vertex, fragment; vertex,
    // fragment, geometry. Children past the third are ignored.
    std::vector<std::string> texts;
    std::string firstStage;
    bool complete = true;
    for (const tinyxml2::XMLElement* stage = element->FirstChildElement();
         stage != nullptr && texts.size() < 3; stage = stage->NextSiblingElement()) {
      const char* text = stage->GetText();
      if (text == nullptr) {
        Report(LineOf(stage) + "stage <" + stage->Name() + "> of pass \"" + passName +
               "\" has no text, the pass skipped");
        complete = false;
        break;
      }
      if (texts.empty()) firstStage = stage->Name();
      texts.emplace_back(text);
    }
    if (!complete) continue;
    if (texts.empty()) {
      Report(LineOf(element) + "pass \"" + passName + "\" has no stages, skipped");
      continue;
    }
    // A lone stage is compiled as compute whatever its element is called, but
    // one called after a graphics stage is a damaged pass, not a compute one.
    if (texts.size() == 1 && (firstStage == "Vertex" || firstStage == "Fragment" || firstStage == "Geometry")) {
      Report(LineOf(element) + "pass \"" + passName + "\" has only a <" + firstStage +
             "> stage, which cannot stand alone; skipped");
      continue;
    }

    std::cout << "No pass called!!! " << passName;
    std::cout.flush();
    ShaderPass* pass = new ShaderPass(Filename + ": " + passName);
    if (texts.size() == 1) {
      pass->ComputeSource = texts[0];
    } else {
      pass->VertexSource = texts[0];
      pass->FragmentSource = texts[1];
      if (texts.size() > 2) pass->GeometrySource = texts[2];
    }
    Passes[passName] = pass;
    pass->Load();
  }
}

void Shader::CheckForChanges() {
  if (Filename.empty()) return;
  const int64_t interval = ChangeCheckIntervalMs * 1000000;
  if (ClockTicks() - LastCheck <= interval) return;
  LastCheck = ClockTicks();
  int64_t modified = 0, size = 0;
  if (!FileTime(modified, size)) return;
  // Only a strictly newer file reloads: an older copy put back is ignored.
  // Times are compared to the nanosecond; where the file system keeps
  // coarser ones, a save within the same tick still changes the size.
  if (modified > LastModified || (modified == LastModified && size != LastSize)) Reload();
  LastModified = modified;
  LastSize = size;
}

void Shader::Use(const std::string& passName, std::vector<UniformBuffer*>* buffers) {
  CheckForChanges();
  DrawnAsError = false;
  auto found = Passes.find(passName);
  if (found == Passes.end()) {
    // A typo or a file that failed to parse: said once, drawn as an error.
    if (ReportedMissing.insert(passName).second) {
      Debug::Log("Nonexistent pass (" + passName + ") used from shader " + Name + "\n");
    }
    UseErrorShader(passName, buffers);
    return;
  }
  ShaderVariant* variant = found->second->Use(buffers);
  if (!variant->Failed() || variant->IsCompute()) return;
  UseErrorShader(passName, buffers);
}

void Shader::UseErrorShader(const std::string& passName, std::vector<UniformBuffer*>* buffers) {
  // A broken or missing program is never made current, nor is the one the
  // last draw left bound: the error shader's look shows where it would have
  // drawn. Its pass is used directly, so a broken error shader cannot
  // recurse; without one nothing is current and draws issue nothing.
  DrawnAsError = true;
  Shader* error = GetErrorShader();
  std::unordered_map<std::string, ShaderPass*>::iterator fallback;
  if (error != nullptr && error != this) {
    fallback = error->Passes.find(passName);
    if (fallback == error->Passes.end()) fallback = error->Passes.find(DefaultPass);
    if (fallback != error->Passes.end()) {
      ShaderVariant* variant = fallback->second->Use(buffers);
      if (!variant->Failed()) return;
    }
  }
  SaneGL::UseProgram(SaneGL::Program());
  ShaderVariant::Current = nullptr;
}

void Shader::Use(std::vector<UniformBuffer*>* buffers) { Use(DefaultPass, buffers); }

Shader* Shader::GetErrorShader() {
  if (ErrorShader == nullptr) ErrorShader = new Shader("Error");
  return ErrorShader;
}

}  // namespace KestorEngine
