// TComponent: the base of the dataset layer's components (databases, datasets,
// data sources, update objects). A component owns what it creates (through
// std::unique_ptr members) and only borrows the other components it refers
// to. Such a reference is kept safe by a removal notice: a component that
// holds a pointer to another calls FreeNotification on it and then receives
// Notification(other, opRemove) before the other goes away, and clears its
// pointer there.
//
// Instances are used by one thread at a time; notices are sent on the thread
// that destroys the component.
#pragma once

#include <string>
#include <vector>

namespace velquarn {

enum TOperation { opInsert, opRemove };

class TComponent {
 public:
  TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  // Sends the removal notices that SendRemovalNotices has not sent yet.
  virtual ~TComponent();

  const std::string& Name() const { return name_; }
  virtual void SetName(const std::string& name) { name_ = name; }

  // Asks for a removal notice when this component goes away: `other` gets
  // Notification(this, opRemove). The link works both ways, so whichever of
  // the two is destroyed first tells the other. Duplicates are ignored.
  void FreeNotification(TComponent* other);
  // Drops the link of FreeNotification in both directions.
  void RemoveFreeNotification(TComponent* other);

  // True while the component is being loaded from a stored form: properties
  // are then only remembered and applied by Loaded.
  bool Loading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  void EndLoading();

 protected:
  // Called for every component linked through FreeNotification that is being
  // destroyed (operation opRemove). Clear pointers to it here; do not throw.
  virtual void Notification(TComponent* component, TOperation operation);
  // Called by EndLoading after the loading flag is cleared.
  virtual void Loaded() {}
  // Tells every linked component that this one is going away. A derived class
  // whose receivers call back into it (a database whose datasets release
  // their connections) calls this first thing in its own destructor, while
  // it is still whole. Later calls do nothing.
  void SendRemovalNotices() noexcept;

 private:
  std::string name_;
  bool loading_ = false;
  std::vector<TComponent*> free_notifies_;  // borrowed, linked both ways
};

}  // namespace velquarn
